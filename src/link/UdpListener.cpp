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

UdpListener::UdpListener(QObject *parent) : QObject(parent) { }

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
    m_port = 0;
}

void UdpListener::readPending(QUdpSocket *socket)
{
    QByteArray buffer;
    for (int n = 0; n < kBatch && socket->hasPendingDatagrams(); ++n) {
        const qint64 size = socket->pendingDatagramSize();
        if (size < 0)
            break;
        if (size > kMaxDatagramSize) {
            socket->readDatagram(nullptr, 0); // discarded whole
            ++m_oversize;
            continue;
        }
        buffer.resize(qsizetype(size));
        const qint64 got = socket->readDatagram(buffer.data(), size);
        if (got <= 0)
            continue; // empty datagrams carry nothing
        buffer.resize(qsizetype(got));
        if (onDatagram)
            onDatagram(buffer);
        // The handler may have closed the listener (the window is closing).
        if (m_sockets.empty())
            return;
    }
    if (socket->hasPendingDatagrams()) {
        // More than one batch waiting: come back after the event loop's turn.
        QTimer::singleShot(0, socket, [this, socket] { readPending(socket); });
    }
}

} // namespace kalvora
