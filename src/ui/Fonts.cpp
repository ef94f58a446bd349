#include "Fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHash>
#include <QRawFont>

#include <cmath>

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

LineMetrics lineMetrics(const QFont &font)
{
    // Labels ask again and again for copies of one font, whose key costs
    // more to build than the answer: the last font asked for is kept.
    // (Never destroyed: a font may not outlive the application object.)
    static QFont *lastFont = nullptr;
    static LineMetrics lastMetrics;
    if (lastFont && font.isCopyOf(*lastFont))
        return lastMetrics;
    static QHash<QString, LineMetrics> cache;
    const QString key = font.key();
    const auto remember = [&font](LineMetrics m) {
        if (lastFont)
            *lastFont = font;
        else
            lastFont = new QFont(font);
        lastMetrics = m;
        return m;
    };
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return remember(*it);

    const QFontMetrics fm(font);
    LineMetrics metrics { fm.ascent(), fm.height() };
    const QRawFont raw = QRawFont::fromFont(font);
    const QByteArray os2 = raw.fontTable("OS/2");
    const QByteArray head = raw.fontTable("head");
    const auto u16 = [](const QByteArray &table, int at) {
        return int(quint8(table[at])) << 8 | int(quint8(table[at + 1]));
    };
    if (raw.isValid() && os2.size() >= 78 && head.size() >= 20) {
        const int unitsPerEm = u16(head, 18);
        const double pixels = QFontInfo(font).pixelSize();
        if (unitsPerEm > 0 && pixels > 0) {
            const int ascent = int(std::lround(u16(os2, 74) * pixels / unitsPerEm));
            const int descent = int(std::lround(u16(os2, 76) * pixels / unitsPerEm));
            if (ascent > 0 && descent >= 0)
                metrics = { ascent, ascent + descent };
        }
    }
    cache.insert(key, metrics);
    return remember(metrics);
}

} // namespace kalvora
