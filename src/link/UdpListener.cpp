#include "UdpListener.h"

#include "EventMessage.h"

#include <QEvent>
#include <QScopeGuard>
#include <QUdpSocket>

#include <sys/socket.h>

namespace kalvora {

namespace {

void enlargeReceiveBuffer(QUdpSocket &socket)
{
    const int fd = int(socket.socketDescriptor());
    int size = UdpListener::kReceiveBuffer;
    // SO_RCVBUFFORCE passes the system's cap where the process may; otherwise
    // the ordinary request gets as much as the cap (net.core.rmem_max) allows.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

} // namespace

UdpListener::UdpListener(QObject *parent)
    : QObject(parent)
{
    // A timer rather than a posted call: timers come after the posted
    // repaints and ticks, so the window has its turn between two passes.
    m_nextPass.setSingleShot(true);
    m_nextPass.setInterval(0);
    connect(&m_nextPass, &QTimer::timeout, this, &UdpListener::readAll);
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
        connect(raw, &QUdpSocket::readyRead, this, [this, raw] {
            // A socket that reported datagrams reports no more until one is
            // read: if this one cannot be read now, the next pass reads it.
            if (m_reading || readSome(raw))
                m_nextPass.start();
        });
    }
    return std::nullopt;
}

void UdpListener::deactivate()
{
    // Closed now, so the port is free at once; deleted once any handler that
    // is still running on them has returned.
    m_nextPass.stop();
    for (auto &socket : m_sockets) {
        socket->disconnect(this);
        socket->close();
        socket.release()->deleteLater();
    }
    m_sockets.clear();
    m_port = 0;
}

bool UdpListener::readSome(QUdpSocket *socket)
{
    m_reading = true;
    const auto done = qScopeGuard([this] { m_reading = false; });
    for (int n = 0; n < kBatch; ++n) {
        if (socket->state() != QAbstractSocket::BoundState)
            return false; // closed by a handler
        const qint64 size = socket->pendingDatagramSize();
        if (size < 0)
            return false; // nothing more waits
        if (size > kMaxDatagramSize) {
            socket->readDatagram(nullptr, 0); // discarded whole
            ++m_oversize;
            continue;
        }
        m_buffer.resize(qsizetype(std::max<qint64>(size, 1)));
        const qint64 got = socket->readDatagram(m_buffer.data(), size);
        if (got <= 0)
            continue; // empty datagrams carry nothing
        ++m_received;
        if (onDatagram)
            onDatagram(QByteArray(m_buffer.constData(), qsizetype(got)));
    }
    return true; // perhaps more
}

void UdpListener::readAll()
{
    if (m_reading) {
        m_nextPass.start();
        return;
    }
    bool more = false;
    // A handler may close the listener: the list is looked at afresh each time.
    for (size_t i = 0; i < m_sockets.size(); ++i)
        more = readSome(m_sockets[i].get()) || more;
    if (more && !m_sockets.empty())
        m_nextPass.start();
}

void UdpListener::readWaiting()
{
    if (!m_sockets.empty())
        readAll();
}

void UdpListener::readBeforeRepaintOf(QObject *window)
{
    window->installEventFilter(this);
}

bool UdpListener::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::UpdateRequest)
        readWaiting();
    return false;
}

} // namespace kalvora
