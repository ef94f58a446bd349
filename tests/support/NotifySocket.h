#pragma once

#include <QFile>
#include <QSocketNotifier>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace kalvora::test {

// The service manager's end of NOTIFY_SOCKET: a datagram socket of the
// test's own, which the console's messages to the manager reach. Like the
// manager it reads them as they come, whenever the event loop runs: a sender
// waits while the socket holds net.unix.max_dgram_qlen unread ones.
class NotifySocket {
public:
    NotifySocket()
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_dir.filePath(QStringLiteral("notify")));
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        if (m_fd < 0
            || ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
            return;
        m_path = QString::fromLocal8Bit(path);
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { receive(); });
    }
    ~NotifySocket()
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NotifySocket(const NotifySocket &) = delete;
    NotifySocket &operator=(const NotifySocket &) = delete;

    // Empty when the socket could not be made.
    const QString &path() const { return m_path; }

    // The messages that have arrived since the last call, each as its text.
    QStringList take()
    {
        receive();
        return std::exchange(m_received, {});
    }

private:
    void receive()
    {
        char buffer[4096];
        ssize_t size;
        while ((size = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0)
            m_received.append(QString::fromUtf8(buffer, size));
    }

    QTemporaryDir m_dir;
    int m_fd = -1;
    QString m_path;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QStringList m_received;
};

} // namespace kalvora::test
