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

// The height of a line of text and its baseline, as the font's own Windows
// metrics give them (the OS/2 table's winAscent and winDescent, each scaled to
// the pixel size and rounded), which is how the console's list rows were
// designed: a line of Tahoma 16 px is 19 px high. Fonts without those tables
// use Qt's line metrics.
struct LineMetrics {
    int ascent = 0;
    int height = 0;
};
LineMetrics lineMetrics(const QFont &font);

// Maroon: red 128, green 0, blue 0.
inline QColor maroon()
{
    return QColor(128, 0, 0);
}

} // namespace kalvora
