#pragma once

#include "settings/Expected.h"

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QUdpSocket;

namespace kalvora {

// Listens for the call server's datagrams on one port, on all IPv4 addresses
// and, where the system has IPv6, on all IPv6 addresses too. Datagrams are
// handed over on the GUI thread one at a time, also while a modal box or
// dialog runs its own loop. Empty datagrams are ignored and datagrams over
// 8192 bytes are discarded whole.
class UdpListener : public QObject {
    Q_OBJECT
public:
    explicit UdpListener(QObject *parent = nullptr);
    ~UdpListener() override;

    // Binds the port. A port that cannot be bound on IPv4 (another program
    // holds it, say) fails with a message that names it.
    Status activate(quint16 port);
    void deactivate();
    bool isActive() const { return !m_sockets.empty(); }
    quint16 port() const { return m_port; }

    // Called once per datagram.
    std::function<void(const QByteArray &)> onDatagram;

    // Datagrams handed over, and dropped for their size, since start.
    quint64 receivedCount() const { return m_received; }
    quint64 oversizeCount() const { return m_oversize; }

    // The receive buffer each socket asks the system for, so that a burst of
    // calls is not dropped before the GUI thread reads it.
    static constexpr int kReceiveBuffer = 4 * 1024 * 1024;

private:
    void readPending(QUdpSocket *socket);
    void handleQueued();

    std::vector<std::unique_ptr<QUdpSocket>> m_sockets;
    std::deque<QByteArray> m_queue; // read from the sockets, not yet handled
    bool m_drainScheduled = false;
    quint16 m_port = 0;
    quint64 m_oversize = 0;
    quint64 m_received = 0;
};

} // namespace kalvora
