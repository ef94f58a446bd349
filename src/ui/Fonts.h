#pragma once

#include <QColor>
#include <QFont>

namespace kalvora {

// The console's face is Tahoma. Where the system has no Tahoma, the Tahoma
// that Debian's fonts-wine package ships is registered for this process when
// it is installed; otherwise the system's sans face stands in. Call once after
// the application object exists; later calls do nothing.
void registerConsoleFonts();

// The face the console's texts use: "Tahoma" when available, else the
// system's sans face.
QString consoleFamily();

// A console font of the given pixel height.
QFont consoleFont(int pixelSize, bool bold);

// Maroon: red 128, green 0, blue 0.
inline QColor maroon() { return QColor(128, 0, 0); }

} // namespace kalvora
