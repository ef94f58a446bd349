#include "UdpListener.h"

#include "EventMessage.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <sys/socket.h>

namespace kalvora {

namespace {

// Datagrams handled per wake-up before the window gets a turn to paint and
// tick; the rest follow on the next pass of the event loop.
constexpr int kBatch = 64;

void enlargeReceiveBuffer(QUdpSocket &socket)
{
    const int fd = int(socket.socketDescriptor());
    int size = UdpListener::kReceiveBuffer;
    // SO_RCVBUFFORCE passes the system's cap where the process may; otherwise
    // the ordinary request gets as much as the cap allows.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

} // namespace

UdpListener::UdpListener(QObject *parent)
    : QObject(parent)
{
}

UdpListener::~UdpListener() = default;

Status UdpListener::activate(quint16 port)
{
    deactivate();
    auto v4 = std::make_unique<QUdpSocket>();
    if (!v4->bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress)) {
        return QStringLiteral("Could not bind socket to UDP port %1. %2")
            .arg(port)
            .arg(v4->errorString());
    }
    m_port = port;
    m_sockets.push_back(std::move(v4));

    // IPv6 where the system has it; a system without it only listens on IPv4.
    auto v6 = std::make_unique<QUdpSocket>();
    if (v6->bind(QHostAddress::AnyIPv6, port, QAbstractSocket::DontShareAddress))
        m_sockets.push_back(std::move(v6));

    for (auto &socket : m_sockets) {
        enlargeReceiveBuffer(*socket);
        QUdpSocket *raw = socket.get();
        connect(raw, &QUdpSocket::readyRead, this, [this, raw] { readPending(raw); });
    }
    return std::nullopt;
}

void UdpListener::deactivate()
{
    // Closed now, so the port is free at once; deleted once any handler that
    // is still running on them has returned.
    for (auto &socket : m_sockets) {
        socket->disconnect(this);
        socket->close();
        socket.release()->deleteLater();
    }
    m_sockets.clear();
    m_queue.clear();
    m_port = 0;
}

void UdpListener::readPending(QUdpSocket *socket)
{
    // Everything the system holds is taken at once: a socket left with unread
    // datagrams may not report new ones. Handling then goes in batches.
    QByteArray buffer;
    while (socket->hasPendingDatagrams()) {
        const qint64 size = socket->pendingDatagramSize();
        if (size < 0)
            break;
        if (size > kMaxDatagramSize) {
            socket->readDatagram(nullptr, 0); // discarded whole
            ++m_oversize;
            continue;
        }
        buffer.resize(qsizetype(std::max<qint64>(size, 1)));
        const qint64 got = socket->readDatagram(buffer.data(), size);
        if (got <= 0)
            continue; // empty datagrams carry nothing
        m_queue.push_back(buffer.left(qsizetype(got)));
    }
    handleQueued();
}

void UdpListener::handleQueued()
{
    for (int n = 0; n < kBatch && !m_queue.empty(); ++n) {
        const QByteArray datagram = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_received;
        if (onDatagram)
            onDatagram(datagram);
    }
    if (!m_queue.empty() && !m_drainScheduled) {
        // More waiting: the window gets a turn to paint and tick first.
        m_drainScheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_drainScheduled = false;
            handleQueued();
        });
    }
}

} // namespace kalvora
