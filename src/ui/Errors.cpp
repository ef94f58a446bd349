#include "Errors.h"

#include "settings/Expected.h"
#include "settings/Logging.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>

namespace kalvora {

namespace {

std::function<bool(const BoxRecord &)> &boxObserver()
{
    static std::function<bool(const BoxRecord &)> observer;
    return observer;
}

bool nonInteractive()
{
    static const bool value = qEnvironmentVariableIntValue("KALVORA_NONINTERACTIVE") == 1;
    return value;
}

// Answers OK without showing anything; reports the box instead.
bool recordBox(const QString &caption, const QString &text)
{
    std::fprintf(stderr, "[%s] %s\n", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
    return boxObserver() ? boxObserver()(BoxRecord { caption, text }) : true;
}

QMessageBox::Icon toQt(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QString errorCaption(const QString &executableName)
{
    QString name = QFileInfo(executableName).fileName();
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString withFullStop(const QString &text)
{
    if (!text.isEmpty() && text.back() > u'.')
        return text + u'.';
    return text;
}

QString readableErrorText(const QString &text)
{
    return excerptForError(text, kMaxErrorTextLength);
}

void showError(const QString &text)
{
    const QString shown = withFullStop(readableErrorText(text));
    qCWarning(lcApp).noquote() << "Error box:" << shown;
    messageBox(errorCaption(QCoreApplication::applicationFilePath()), shown, BoxIcon::Error);
}

bool guarded(const std::function<void()> &handler)
{
    try {
        handler();
        return true;
    } catch (const KalvoraError &e) {
        showError(e.message());
    } catch (const std::exception &e) {
        showError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showError(QStringLiteral("Unexpected error"));
    }
    return false;
}

void messageBox(const QString &caption, const QString &text, BoxIcon icon)
{
    if (nonInteractive()) {
        recordBox(caption, text);
        return;
    }
    QMessageBox box(toQt(icon), caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool confirmBox(const QString &caption, const QString &text)
{
    if (nonInteractive())
        return recordBox(caption, text);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

void noticeBox(QWidget *window, const QString &caption, const QString &text)
{
    if (nonInteractive()) {
        recordBox(caption, text);
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void setBoxObserver(std::function<bool(const BoxRecord &)> observer)
{
    boxObserver() = std::move(observer);
}

} // namespace kalvora
