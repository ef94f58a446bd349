#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QSoundEffect;

namespace kalvora {

// Plays the console's WAV files asynchronously: the call returns at once and
// a new sound replaces one still playing. A missing file plays nothing; a file
// that exists but cannot be played gives the system's alert sound. Each file
// is loaded once and kept ready, so a call is heard without delay.
class SoundPlayer : public QObject {
    Q_OBJECT
public:
    explicit SoundPlayer(QObject *parent = nullptr);
    ~SoundPlayer() override;

    void play(const QString &path);
    // Ends the file's sound at once if it is playing, or about to once loaded.
    void stop(const QString &path);
    // Loads a file ahead of its first use.
    void preload(const QString &path);

    // How often the alert sound stood in for a file that could not be played.
    int alerts() const { return m_alerts; }
    // The file last asked for, and how many sounds were asked for in all.
    const QString &lastRequested() const { return m_last; }
    int requests() const { return m_requests; }

private:
    QSoundEffect *effectFor(const QString &path);
    void alert();

    QHash<QString, QSoundEffect *> m_effects;
    QString m_last;
    QString m_pending; // asked to play while still loading
    int m_alerts = 0;
    int m_requests = 0;
};

} // namespace kalvora
