#include "plan/KeyedList.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kalvora;
using namespace Qt::StringLiterals;

namespace {

struct Bed {
    int id;
};
using Beds = KeyedList<Bed>;

// Appends one bed per key ("|"-separated), with ids 0, 1, 2, ... in that order.
void fill(Beds &beds, const QString &keys)
{
    for (const QString &key : keys.split(u'|'))
        beds.append(key, std::make_unique<Bed>(Bed { int(beds.size()) }));
}

QList<int> ids(const Beds &beds)
{
    QList<int> out;
    for (const auto &item : beds)
        out.append(item.object->id);
    return out;
}

// What find() must give: the first item in list order whose key matches, ignoring case.
int firstMatch(const Beds &beds, QStringView key)
{
    for (const auto &item : beds) {
        if (item.key.compare(key, Qt::CaseInsensitive) == 0)
            return item.object->id;
    }
    return -1;
}

int found(const Beds &beds, QStringView key)
{
    const Bed *bed = beds.find(key);
    return bed ? bed->id : -1;
}

} // namespace

class TestKeyedList : public QObject {
    Q_OBJECT

private slots:
    void findIgnoresCaseAndTakesTheFirst_data();
    void findIgnoresCaseAndTakesTheFirst();
    void findAgreesWithLinearSearch();
    void indexOfFindsTheObject();
};

void TestKeyedList::findIgnoresCaseAndTakesTheFirst_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("lookup");
    QTest::addColumn<int>("id");
    QTest::addRow("same case") << u"101|102"_s << u"102"_s << 1;
    QTest::addRow("Latin in another case") << u"x|bed a"_s << u"BED A"_s << 1;
    QTest::addRow("Cyrillic in another case") << u"палата"_s << u"ПАЛАТА"_s << 0;
    QTest::addRow("Cyrillic yo") << u"ёж"_s << u"ЁЖ"_s << 0;
    QTest::addRow("two codes differing only in case") << u"a1|A1"_s << u"A1"_s << 0;
    QTest::addRow("same, other order") << u"A1|a1"_s << u"a1"_s << 0;
    QTest::addRow("equal codes") << u"7|8|7"_s << u"7"_s << 0;
    QTest::addRow("missing code") << u"101"_s << u"1010"_s << -1;
    QTest::addRow("spaces count") << u"101"_s << u" 101"_s << -1;
    QTest::addRow("empty code") << u"a|"_s << QString() << 1;
}

void TestKeyedList::findIgnoresCaseAndTakesTheFirst()
{
    QFETCH(QString, keys);
    QFETCH(QString, lookup);
    QFETCH(int, id);
    Beds beds;
    fill(beds, keys);
    QCOMPARE(found(beds, lookup), id);
}

void TestKeyedList::findAgreesWithLinearSearch()
{
    // After any run of appends, takes, moves to the end and conditional takes
    // over keys that collide when case is ignored, find() still gives the
    // first match in list order, and takeIf() hands beds over in list order.
    const QStringList keys { u"a"_s, u"A"_s, u"б"_s, u"Б"_s, u"c1"_s, u"C1"_s };
    QRandomGenerator random(20240611);
    Beds beds;
    int nextId = 0;
    for (int step = 0; step < 3000; ++step) {
        const int op = random.bounded(10);
        if (op < 4 || beds.isEmpty()) {
            beds.append(keys[random.bounded(int(keys.size()))],
                        std::make_unique<Bed>(Bed { nextId++ }));
        } else if (op < 6) {
            const int at = random.bounded(int(beds.size()));
            const Bed *bed = beds.at(at);
            QCOMPARE(beds.takeAt(at).get(), bed);
        } else if (op < 9) {
            const int at = random.bounded(int(beds.size()));
            const QString key = beds.keyAt(at);
            const Bed *bed = beds.at(at);
            beds.moveToEnd(at);
            QCOMPARE(beds.at(beds.size() - 1), bed);
            QCOMPARE(beds.keyAt(beds.size() - 1), key); // the key moves along, same spelling
        } else {
            const int mod = random.bounded(2, 6);
            QList<int> taken, kept, got;
            for (int id : ids(beds))
                (id % mod == 0 ? taken : kept).append(id);
            for (const auto &bed : beds.takeIf([&](const Bed &b) { return b.id % mod == 0; }))
                got.append(bed->id);
            QCOMPARE(got, taken);
            QCOMPARE(ids(beds), kept);
        }
        for (const QString &key : keys)
            QCOMPARE(found(beds, key), firstMatch(beds, key));
    }
    QVERIFY(!beds.takeAll().empty());
    QVERIFY(beds.isEmpty());
    for (const QString &key : keys)
        QCOMPARE(beds.find(key), nullptr);
}

void TestKeyedList::indexOfFindsTheObject()
{
    Beds beds;
    fill(beds, u"a|b|c"_s);
    const Bed *b = beds.at(1);
    QCOMPARE(beds.indexOf(b), 1);
    beds.moveToEnd(1);
    QCOMPARE(beds.indexOf(b), 2);
    const Bed other { 1 };
    QCOMPARE(beds.indexOf(&other), -1);
    const std::unique_ptr<Bed> taken = beds.takeAt(2);
    QCOMPARE(beds.indexOf(taken.get()), -1);
}

QTEST_APPLESS_MAIN(TestKeyedList)
#include "tst_keyedlist.moc"
