#include "Fonts.h"

#include <QFile>
#include <QFontDatabase>

namespace kalvora {

namespace {

QString &family()
{
    static QString value;
    return value;
}

} // namespace

void registerConsoleFonts()
{
    if (!family().isEmpty())
        return;
    const QString tahoma = QStringLiteral("Tahoma");
    if (!QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive)) {
        // fonts-wine puts its Tahoma (with Cyrillic) outside fontconfig's paths.
        const char *const files[] = { "/usr/share/wine/fonts/tahoma.ttf",
                                      "/usr/share/wine/fonts/tahomabd.ttf" };
        for (const char *file : files) {
            if (QFile::exists(QString::fromLatin1(file)))
                QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        }
    }
    if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive))
        family() = tahoma;
    else
        family() = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QString consoleFamily()
{
    registerConsoleFonts();
    return family();
}

QFont consoleFont(int pixelSize, bool bold)
{
    QFont font(consoleFamily());
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace kalvora
