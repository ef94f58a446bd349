#pragma once

#include <QByteArrayView>
#include <QStringList>
#include <QtGlobal>

namespace kalvora::test {

// The console's own log lines ("kalvora.link: Listening ...") while it lives;
// every message still reaches the handler before it (QtTest's).
class LogCapture {
public:
    LogCapture()
    {
        lines().clear();
        previous() = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(previous()); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (context.category && QByteArrayView(context.category).startsWith("kalvora."))
            lines().append(QString::fromLatin1(context.category) + QLatin1String(": ") + text);
        if (previous())
            previous()(type, context, text);
    }
};

} // namespace kalvora::test
