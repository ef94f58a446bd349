#pragma once

#include "settings/Expected.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QUdpSocket;

namespace kalvora {

// Listens for the call server's datagrams on one port, on all IPv4 addresses
// and, where the system has IPv6, on all IPv6 addresses too. Datagrams are
// handed over on the GUI thread one at a time, as they are taken off the
// socket, also while a modal box or dialog runs its own loop. Empty datagrams
// are ignored and datagrams over 8192 bytes are discarded whole.
//
// The system's receive buffer is the only queue: each pass takes at most
// kBatch datagrams off each socket, hands each over as it is read, and leaves
// the rest where they are until the next pass, after the window has had its
// turn to paint and tick. However long a flood lasts, the console holds one
// datagram at a time, and a call that follows a flood waits only for what
// the buffer held when the flood ended.
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

    // Takes what waits on the sockets now (at most one batch of each).
    void readWaiting();
    // Reads what waits on the sockets each time just before `window` repaints,
    // so that the changes those datagrams make are painted in the same frame
    // instead of waiting for the paint to end and a second one.
    void readBeforeRepaintOf(QObject *window);

    // Datagrams handed over, and dropped for their size, since start.
    quint64 receivedCount() const { return m_received; }
    quint64 oversizeCount() const { return m_oversize; }

    // Datagrams handed over per socket and pass before the event loop gets a
    // turn again.
    static constexpr int kBatch = 64;
    // The receive buffer each socket asks the system for (the system doubles
    // it for its own book-keeping): room for tens of thousands of calls sent
    // back to back while the window paints.
    static constexpr int kReceiveBuffer = 16 * 1024 * 1024;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Hands over at most kBatch datagrams of the socket; true when more wait.
    bool readSome(QUdpSocket *socket);
    void readAll();

    std::vector<std::unique_ptr<QUdpSocket>> m_sockets;
    QTimer m_nextPass; // while datagrams wait on a socket
    QByteArray m_buffer;
    bool m_reading = false;
    quint16 m_port = 0;
    quint64 m_oversize = 0;
    quint64 m_received = 0;
};

} // namespace kalvora
