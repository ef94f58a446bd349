#include "SoundPlayer.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>
#include <QtEndian>

namespace kalvora {

namespace {

// Whether the file is a whole WAV file: a RIFF/WAVE header, a format chunk,
// and a data chunk that the file holds to its end. The sound loader waits
// forever for the rest of a cut-short or empty file, neither playing it nor
// reporting an error, and the effect's destructor then waits for the loader:
// such a file counts as one that cannot be played.
bool wholeWaveFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return false;
    bool format = false;
    qint64 at = 12;
    while (at + 8 <= size && file.seek(at)) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return false;
        const quint32 length = qFromLittleEndian<quint32>(chunk.constData() + 4);
        if (at + 8 + qint64(length) > size)
            return false;
        if (chunk.startsWith("fmt "))
            format = length >= 16;
        else if (chunk.startsWith("data"))
            return format;
        at += 8 + qint64(length) + (length & 1);
    }
    return false;
}

} // namespace

SoundPlayer::SoundPlayer(QObject *parent)
    : QObject(parent)
{
}

SoundPlayer::~SoundPlayer() = default;

QSoundEffect *SoundPlayer::effectFor(const QString &path)
{
    if (QSoundEffect *effect = m_effects.value(path))
        return effect;
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
    effect->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    m_effects.insert(path, effect);
    return effect;
}

void SoundPlayer::preload(const QString &path)
{
    if (QFileInfo::exists(path) && wholeWaveFile(path))
        effectFor(path);
}

void SoundPlayer::play(const QString &path)
{
    m_last = path;
    ++m_requests;
    if (!QFileInfo::exists(path))
        return;
    const bool playable = m_effects.contains(path) || wholeWaveFile(path);
    QSoundEffect *effect = playable ? effectFor(path) : nullptr;
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
