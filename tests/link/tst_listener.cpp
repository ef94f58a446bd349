// The listener on its own: every datagram the system delivers is handed over
// once and in order, in bounded batches, however many wait at once and even
// when a handler runs an event loop of its own; none is left on the socket
// without a new report of the socket to wake the listener.

#include "ConsoleFixture.h"
#include "NetworkGuard.h"
#include "link/UdpListener.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QUdpSocket>

using namespace kalvora;

class TestListener : public QObject {
    Q_OBJECT

    UdpListener m_listener;
    QUdpSocket m_sender;
    QList<QByteArray> m_got;
    quint64 m_receivedBefore = 0;

    void send(int from, int count)
    {
        for (int i = from; i < from + count; ++i) {
            const QByteArray d = "#" + QByteArray::number(i);
            QCOMPARE(m_sender.writeDatagram(d, QHostAddress::LocalHost, m_listener.port()),
                     qint64(d.size()));
        }
    }
    static QList<QByteArray> numbered(int count)
    {
        QList<QByteArray> list;
        for (int i = 0; i < count; ++i)
            list << "#" + QByteArray::number(i);
        return list;
    }

private slots:
    void initTestCase() { KALVORA_REQUIRE_PRIVATE_NETWORK(); }
    void init()
    {
        m_got.clear();
        m_receivedBefore = m_listener.receivedCount();
        m_listener.onDatagram = [this](const QByteArray &d) { m_got << d; };
        QVERIFY(!m_listener.activate(test::ConsoleFixture::freePort()));
    }
    void cleanup() { m_listener.deactivate(); }

    void everyDatagramOnceAndInOrder_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("nestedLoop"); // the first handler runs an event loop
        QTest::newRow("one") << 1 << false;
        QTest::newRow("exactly one batch") << UdpListener::kBatch << false;
        QTest::newRow("many batches waiting at once") << 20 * UdpListener::kBatch + 7 << false;
        QTest::newRow("a handler runs an event loop while more arrive") << 500 << true;
    }
    void everyDatagramOnceAndInOrder()
    {
        QFETCH(int, count);
        QFETCH(bool, nestedLoop);
        if (nestedLoop) {
            m_listener.onDatagram = [this, count](const QByteArray &d) {
                m_got << d;
                if (m_got.size() != 1)
                    return;
                // The rest arrive while this handler waits in a loop of its own
                // (as a modal box would): nothing is handed over meanwhile,
                // and nothing is left behind afterwards.
                send(1, count - 1);
                QElapsedTimer waited;
                waited.start();
                while (waited.elapsed() < 100)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                QCOMPARE(m_got.size(), 1);
            };
            send(0, 1);
        } else {
            send(0, count); // all waiting before the listener runs
        }
        // No further datagram comes to wake the listener: it must not need one.
        QTRY_COMPARE(m_got.size(), count);
        QCOMPARE(m_got, numbered(count));
        QTest::qWait(50);
        QCOMPARE(m_got.size(), count);
        QCOMPARE(m_listener.receivedCount() - m_receivedBefore, quint64(count));
    }

    void waitingDatagramsAreReadBeforeTheWindowRepaints()
    {
        QObject window;
        m_listener.readBeforeRepaintOf(&window);
        send(0, UdpListener::kBatch + 3);
        // The repaint comes first in the event loop: the datagrams waiting
        // then are handled before it, one batch of them.
        QEvent repaint(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(&window, &repaint);
        QCOMPARE(m_got, numbered(UdpListener::kBatch));
        QTRY_COMPARE(m_got.size(), UdpListener::kBatch + 3);
    }
};

QTEST_MAIN(TestListener)
#include "tst_listener.moc"
