#include "SoundPlayer.h"

#include "settings/FileAccess.h"
#include "settings/Logging.h"

#include <QApplication>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace kalvora {

bool isWholeWaveFile(const QByteArray &bytes)
{
    const qint64 size = bytes.size();
    if (size < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return false;
    bool format = false;
    qint64 at = 12;
    while (at + 8 <= size) {
        const char *chunk = bytes.constData() + at;
        const quint32 length = qFromLittleEndian<quint32>(chunk + 4);
        if (at + 8 + qint64(length) > size)
            return false;
        if (std::memcmp(chunk, "fmt ", 4) == 0)
            format = length >= 16;
        else if (std::memcmp(chunk, "data", 4) == 0)
            return format;
        at += 8 + qint64(length) + (length & 1);
    }
    return false;
}

namespace {

// A private in-memory file holding the bytes: its descriptor, or -1.
int inMemoryCopy(const QByteArray &bytes)
{
    const int fd = ::memfd_create("kalvora-sound", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            ::close(fd);
            return -1;
        }
        data += n;
        left -= n;
    }
    return fd;
}

} // namespace

SoundPlayer::SoundPlayer(QObject *parent)
    : QObject(parent)
{
}

SoundPlayer::~SoundPlayer()
{
    // The effects go before the copies they load.
    qDeleteAll(m_effects);
    m_effects.clear();
    for (int fd : std::as_const(m_copies))
        ::close(fd);
}

QSoundEffect *SoundPlayer::effectFor(const QString &path)
{
    if (QSoundEffect *effect = m_effects.value(path))
        return effect;
    const FileRead read = readRegularFile(path, kMaxFileBytes, Links::Follow);
    if (!read.ok() || !isWholeWaveFile(read.bytes)) {
        if (!m_warned.contains(path)) {
            m_warned.insert(path);
            const QString problem = read.ok()
                ? QFileInfo(path).absoluteFilePath() + QLatin1String(": not a whole WAV file")
                : readFailureText(path, read);
            qCWarning(lcData).noquote() << problem + QLatin1String(": the alert sounds instead");
        }
        return nullptr;
    }
    // The loader reads the checked bytes, whatever happens to the file
    // afterwards; each copy's address is unique in the process, so no cached
    // sample of an earlier copy under the same descriptor number is taken.
    QUrl source = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    if (const int fd = inMemoryCopy(read.bytes); fd >= 0) {
        m_copies.append(fd);
        static quint64 copies = 0;
        source = QUrl::fromLocalFile(QStringLiteral("/proc/self/fd/%1").arg(fd));
        source.setQuery(QStringLiteral("copy=%1").arg(++copies));
    }
    auto *effect = new QSoundEffect(this);
    connect(effect, &QSoundEffect::statusChanged, this, [this, effect, path] {
        if (m_pending != path)
            return;
        if (effect->status() == QSoundEffect::Error) {
            m_pending.clear();
            alert();
        } else if (effect->status() == QSoundEffect::Ready) {
            m_pending.clear();
        }
    });
    effect->setSource(source);
    m_effects.insert(path, effect);
    return effect;
}

void SoundPlayer::preload(const QString &path)
{
    if (QFileInfo::exists(path))
        effectFor(path);
}

void SoundPlayer::play(const QString &path)
{
    m_last = path;
    ++m_requests;
    if (!QFileInfo::exists(path))
        return;
    QSoundEffect *effect = effectFor(path);
    for (QSoundEffect *other : std::as_const(m_effects)) {
        if (other != effect && other->isPlaying())
            other->stop();
    }
    if (!effect) {
        alert();
        return;
    }
    switch (effect->status()) {
    case QSoundEffect::Error:
        alert();
        return;
    case QSoundEffect::Loading:
    case QSoundEffect::Null:
        m_pending = path; // plays once loaded, or alerts if it cannot be
        break;
    case QSoundEffect::Ready:
        break;
    }
    effect->stop();
    effect->play();
}

void SoundPlayer::stop(const QString &path)
{
    if (m_pending == path)
        m_pending.clear();
    if (QSoundEffect *effect = m_effects.value(path))
        effect->stop();
}

void SoundPlayer::alert()
{
    ++m_alerts;
    QApplication::beep();
}

} // namespace kalvora
