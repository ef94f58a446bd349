#include "SoundPlayer.h"

#include <QApplication>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace kalvora {

SoundPlayer::SoundPlayer(QObject *parent) : QObject(parent) { }

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

void SoundPlayer::alert()
{
    ++m_alerts;
    QApplication::beep();
}

} // namespace kalvora
