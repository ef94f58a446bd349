// The window's pictures and layout, and the bed list's file.

#include "BedFile.h"
#include "app/TkrdoMF.h"
#include "journal/Journal.h"
#include "settings/Logging.h"
#include "ui/Coordinates.h"
#include "ui/Errors.h"
#include "ui/PictureControl.h"
#include "ui/PlanLayer.h"
#include "ui/TextLabel.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

namespace kalvora {

void TkrdoMF::LoadData()
{
    // 1. The plan, at its natural size.
    iBackground->loadFromFile(dataFile("plan.jpg"));

    // 2. The panel takes the size of its picture, then tiles it.
    iPanel->setAutoSize(true);
    iPanel->loadFromFile(dataFile("panel.jpg"));
    iPanel->setAutoSize(false);
    iPanel->setPlacement(PictureControl::Placement::Tile);

    // 3. Plan top-left, panel to its right, at least minl wide, as high as the plan.
    iBackground->move(0, 0);
    iPanel->move(iBackground->x() + iBackground->width(), 0);
    if (iPanel->width() < minl)
        iPanel->resize(minl, iPanel->height());
    iPanel->resize(iPanel->width(), iBackground->height());

    // 4. The window fills the primary screen's work area.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        setGeometry(screen->availableGeometry());
        m_fitToWorkArea = true;
    }

    // 5. The bill picture.
    apB->loadFromFile(dataFile("bill.gif"));

    // 6. The kind image set; a missing numbered file falls back to kind 0's.
    const struct {
        KindPictures &set;
        const char *prefix;
    } sets[] = { { iTable, "bed" }, { iGreenTable, "greenbed" }, { iRedTable, "redbed" } };
    for (int k = 0; k < kKindCount; ++k) {
        for (const auto &s : sets) {
            const QString numbered = m_files.dataDir + u'/' + QLatin1String(s.prefix)
                + QString::number(k) + QLatin1String(".gif");
            const QString fallback =
                m_files.dataDir + u'/' + QLatin1String(s.prefix) + QLatin1String("0.gif");
            s.set[size_t(k)].loadFromFile(QFileInfo::exists(numbered) ? numbered : fallback);
        }
    }

    // 7. The column titles of the call list.
    TextLabel **titles[] = { &cl1, &cl2, &cl3 };
    const QString texts[] = { cs1, cs2, cs3 };
    const qint32 lefts[] = { cx, at(cx, cw1), at(cx, cw2) };
    for (int i = 0; i < 3; ++i) {
        delete *titles[i];
        auto *title = new TextLabel(this);
        title->setLabelFont(l1->font());
        title->setText(texts[i]);
        title->move(at(iPanel->x(), lefts[i]), at(iPanel->y(), cy));
        title->show();
        *titles[i] = title;
    }
    cl1->setObjectName(QStringLiteral("cl1"));
    cl2->setObjectName(QStringLiteral("cl2"));
    cl3->setObjectName(QStringLiteral("cl3"));
    // The beds, made after the titles, lie above them; call-list lines, made
    // later still, lie above the beds.
    m_planLayer->raise();

    // The sounds are loaded now, so the first call is heard at once.
    m_sounds.preload(dataFile("call.wav"));
    m_sounds.preload(dataFile("bill.wav"));

    refreshContexts();
    FormResize();
}

void TkrdoMF::LoadTableFile()
{
    const BedFile file { m_files.dataDir };
    auto lines = file.loadLines();
    if (!lines)
        throw KalvoraError(lines.error());
    if (lines->size() > kMaxBeds) {
        throw KalvoraError(QStringLiteral("Too many beds in %1: %2 (at most %3)")
                               .arg(QDir::toNativeSeparators(file.path()))
                               .arg(lines->size())
                               .arg(kMaxBeds));
    }
    curTable = nullptr;
    sinc.takeAll();
    sl.takeAll();
    for (const QString &line : std::as_const(lines.value())) {
        // The key is the code exactly as written, spaces included.
        sl.append(CopyField(line, 1, u';'), Ttable::Create(line, m_tableContext));
    }
}

void TkrdoMF::SaveTablesFile()
{
    QStringList lines;
    lines.reserve(sl.size());
    for (const auto &item : sl)
        lines.append(formatBedLine(item.object->record()));
    // Once a save has failed after its backup, the backup is the last good
    // bed file until a save succeeds: it is not replaced again meanwhile.
    const BedFile::SaveOutcome saved = BedFile { m_files.dataDir }.save(lines, m_keepBackup);
    if (m_journal)
        m_journal->bedFileSaved(!saved.error, saved.error.value_or(QString()));
    if (saved.error) {
        m_keepBackup = m_keepBackup || saved.backupWritten;
        throw KalvoraError(*saved.error);
    }
    m_keepBackup = false;
    qCInfo(lcBeds).noquote() << lines.size() << "beds saved to"
                             << BedFile { m_files.dataDir }.path();
}

} // namespace kalvora
