// Datagrams into a real console: the console is built once on a copy of the
// demo data with add mode on, and every input is a burst of datagrams handed
// to the console's datagram handler with ticks in between. After every
// datagram and tick the bed and call lists must be consistent, no bed may have
// gone, and the bed file the console saves must load back to the same beds.
//
// Input: datagrams separated by the byte 0xFF (0xFE separates too and lets one
// second pass). Each input starts from the loaded beds (reloaded from the bed
// file every 64 inputs, put back in place in between), so a finding replays
// from its input alone and the bed list cannot grow from run to run.
//
// The console pings the server by broadcast: this target refuses to run
// outside a private network namespace (scripts/fuzz.sh makes one).

#include "ConsoleFixture.h"
#include "FuzzSupport.h"
#include "NetworkGuard.h"
#include "app/TkrdoMF.h"
#include "link/EventMessage.h"
#include "plan/BedFile.h"
#include "plan/Ttable.h"
#include "ui/Errors.h"
#include "ui/PictureControl.h"

#include <QApplication>
#include <QFile>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace kalvora;
using kalvora::fuzz::check;
using kalvora::fuzz::fail;
using kalvora::fuzz::visible;

namespace {

constexpr int kRedSec = 3;
constexpr int kMaxSec = 6;

struct Harness {
    test::ConsoleFixture *fixture = nullptr;
    TkrdoMF *w = nullptr;
    QByteArray loadedBedFile;
    QList<BedRecord> loadedBeds;
    quint64 runs = 0;
};

Harness &harness()
{
    static Harness h;
    return h;
}

// Puts the beds back as the bed file has them: no calls, no added beds, the
// loaded names and places. False when that cannot be done without a reload.
bool restoreLoadedBeds(Harness &h)
{
    TkrdoMF &w = *h.w;
    if (h.loadedBeds.isEmpty() || w.sl.size() < h.loadedBeds.size())
        return false;
    w.curTable = nullptr;
    w.sinc.takeAll();
    while (w.sl.size() > h.loadedBeds.size())
        w.sl.takeAt(w.sl.size() - 1);
    for (qsizetype i = 0; i < h.loadedBeds.size(); ++i) {
        Ttable *bed = w.sl.at(i);
        static_cast<BedRecord &>(*bed) = h.loadedBeds[i];
        try {
            bed->ShutOff(); // idle picture, no overlay, placed and named
        } catch (const std::exception &) {
            return false;
        }
    }
    return true;
}

// A datagram's text may hold line ends and NULs, which the save writes as
// spaces; every other character, control characters included, is kept.
QString spacedLineBreaks(QString text)
{
    for (QChar &c : text) {
        if (c == u'\r' || c == u'\n' || c == u'\0')
            c = u' ';
    }
    return text;
}

BedRecord asSaved(BedRecord bed)
{
    bed.code = spacedLineBreaks(bed.code);
    bed.l = spacedLineBreaks(bed.l);
    bed.cancelcode = spacedLineBreaks(bed.cancelcode);
    return bed;
}

const PictureHolder &expectedIcon(const TkrdoMF &w, const Ttable &bed)
{
    const KindPictures &set = !bed.isOn ? w.iTable : bed.isRed ? w.iRedTable : w.iGreenTable;
    const int kind = bed.imagenumber >= 0 && bed.imagenumber < kKindCount ? bed.imagenumber : 0;
    return set[size_t(kind)];
}

// The lists after a datagram or a tick. `before` holds the beds the input
// started with, which no event may remove or move.
void checkLists(const TkrdoMF &w, const QList<const Ttable *> &before, bool afterTick)
{
    check(w.sl.size() >= before.size(), "beds disappeared",
          QByteArray::number(before.size()) + " -> " + QByteArray::number(w.sl.size()));
    QSet<const Ttable *> beds;
    for (qsizetype i = 0; i < w.sl.size(); ++i) {
        const Ttable *bed = w.sl.at(i);
        check(i >= before.size() || bed == before[i], "a bed was replaced or moved in the list");
        check(w.sl.find(w.sl.keyAt(i)) != nullptr, "a bed's key does not find a bed",
              visible(w.sl.keyAt(i)));
        beds.insert(bed);
        // The call state of every bed is one of the three states.
        if (bed->isOn) {
            check(bed->curT >= 0 && bed->curT <= kMaxSec, "a calling bed's time is out of range",
                  QByteArray::number(bed->curT));
            check(!bed->isRed || bed->curT >= kRedSec, "a bed turned overdue too early");
        } else {
            check(bed->curT == -1 && !bed->isRed,
                  "an idle bed keeps a call time or the overdue mark");
        }
        check(bed->iT->holder().picture() == expectedIcon(w, *bed).picture(),
              "a bed's icon does not show its state", visible(bed->code));
    }
    QSet<const Ttable *> called;
    for (const auto &item : w.sinc) {
        const Ttable *bed = item.object->table;
        check(beds.contains(bed), "a call entry refers to a bed that is not in the bed list",
              visible(item.key));
        check(!called.contains(bed), "two call entries for one bed", visible(item.key));
        called.insert(bed);
        check(w.sl.find(item.key) == bed, "a call entry's code finds another bed",
              visible(item.key));
        if (afterTick)
            check(bed->isOn, "an ended call is still listed after a tick", visible(item.key));
    }
    if (afterTick) {
        qsizetype shown = 0;
        for (const auto &item : w.sinc)
            shown += item.object->lastN > 0 ? 1 : 0;
        check(shown == qMin(w.sinc.size(), qsizetype(qMax(0, w.maxn))),
              "the call list does not show the newest calls",
              QByteArray::number(shown) + " of " + QByteArray::number(w.sinc.size()));
    }
}

void tick(TkrdoMF &w, const QList<const Ttable *> &before)
{
    try {
        w.TimerPlusTimer();
    } catch (const std::exception &e) {
        fail("the tick raised an error", e.what());
    }
    checkLists(w, before, true);
}

// The saved bed file holds exactly the beds of the list, in order.
void checkSave(TkrdoMF &w)
{
    try {
        w.SaveTablesFile();
    } catch (const std::exception &e) {
        fail("the save raised an error", e.what());
    }
    const BedFile file { w.files().dataDir };
    const auto lines = file.loadLines();
    check(lines.ok(), "the saved bed file cannot be read",
          lines.ok() ? QByteArray() : visible(lines.error()));
    check(lines->size() == w.sl.size(), "the saved bed file holds another number of beds",
          QByteArray::number(lines->size()) + " lines for " + QByteArray::number(w.sl.size())
              + " beds");
    for (qsizetype i = 0; i < w.sl.size(); ++i) {
        const auto bed = parseBedLine(lines->at(i));
        check(bed.ok(), "a saved bed line does not parse", visible(lines->at(i)));
        check(*bed == asSaved(w.sl.at(i)->record()), "a saved bed loads back as another bed",
              visible(lines->at(i)));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (!test::inPrivateNetwork()) {
        std::fprintf(stderr,
                     "fuzz_datagram builds a console, which broadcasts its ping: run it "
                     "inside a private network namespace (scripts/fuzz.sh does).\n");
        std::exit(2);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KALVORA_NONINTERACTIVE", "1");
    qputenv("QT_LOGGING_RULES", "qt.multimedia*=false");
    // The console's files in memory: every save syncs them.
    if (QFile::exists(QStringLiteral("/dev/shm")))
        qputenv("TMPDIR", "/dev/shm");

    static int qtArgc = 1;
    static char *qtArgv[] = { (*argv)[0], nullptr };
    (void)argc;
    new QApplication(qtArgc, qtArgv); // lives as long as the process

    setBoxObserver([](const BoxRecord &box) -> bool {
        fail("the console showed a message box", visible(box.text));
    });

    Harness &h = harness();
    h.fixture = new test::ConsoleFixture;
    h.fixture->writeSettings({ { QStringLiteral("Logic/redSec"), QString::number(kRedSec) },
                               { QStringLiteral("Logic/maxSec"), QString::number(kMaxSec) },
                               { QStringLiteral("Server/ToServerPing"), QString() } });
    h.w = &h.fixture->start();
    check(h.w->isinit, "the console did not start");
    // The fuzzer ticks by hand; no ping, no search.
    h.w->TimerPlus->stop();
    h.w->TimerToServer->stop();
    h.w->TimerServerSearch->stop();
    h.w->nm2Click();
    check(h.w->addMode(), "add mode is off");
    h.loadedBedFile = h.fixture->readFile(h.fixture->dataFile(QStringLiteral("tables.txt")));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Harness &h = harness();
    TkrdoMF &w = *h.w;

    // Back to the beds of the bed file, with no calls: every 64 inputs loaded
    // from the file anew, in between the loaded beds put back as they were.
    if (++h.runs % 64 == 1 || !restoreLoadedBeds(h)) {
        QFile file(h.fixture->dataFile(QStringLiteral("tables.txt")));
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                  && file.write(h.loadedBedFile) == h.loadedBedFile.size(),
              "cannot restore the bed file");
        try {
            w.LoadTableFile();
        } catch (const std::exception &e) {
            fail("the bed file does not load", e.what());
        }
        h.loadedBeds.clear();
        for (const auto &item : w.sl)
            h.loadedBeds.append(item.object->record());
    }
    w.onServer = false;
    QList<const Ttable *> before;
    for (const auto &item : w.sl)
        before.append(item.object.get());

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    bool presence = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        const bool end = i == bytes.size();
        const char c = end ? '\0' : bytes[i];
        if (!end && c != '\xff' && c != '\xfe')
            continue;
        const QByteArray datagram = bytes.mid(start, i - start);
        start = i + 1;
        // The listener drops empty and oversized datagrams before the handler.
        if (!datagram.isEmpty() && datagram.size() <= kMaxDatagramSize) {
            presence = presence || decodeDatagram(datagram) == w.sFromServer;
            w.IdUDPServer1UDPRead(datagram);
            checkLists(w, before, false);
        }
        if (!end && c == '\xfe')
            tick(w, before);
    }
    check(!presence || w.onServer, "the presence reply was not taken");
    check(presence || !w.onServer, "something else was taken for the presence reply");
    w.TimerServerSearchTimer();
    check(w.windowTitle()
              == (presence ? QStringLiteral("Kalvora: Сервер найден.")
                           : QStringLiteral("Kalvora: Не найден сервер.")),
          "the title does not follow the presence reply", visible(w.windowTitle()));

    // Every call overdue and then timed out, and a list without calls.
    for (int i = 0; i <= kMaxSec + 1; ++i)
        tick(w, before);
    check(w.sinc.isEmpty(), "calls are left after every call timed out");

    checkSave(w);
    QCoreApplication::sendPostedEvents();
    return 0;
}
