#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class QSoundEffect;

namespace kalvora {

// Whether bytes are a whole WAV file: a RIFF/WAVE header, a format chunk, and
// a data chunk that the bytes hold to its end. The sound loader waits forever
// for the rest of a cut-short or empty file, neither playing it nor reporting
// an error: such a file counts as one that cannot be played.
bool isWholeWaveFile(const QByteArray &bytes);

// Plays the console's WAV files asynchronously: the call returns at once and
// a new sound replaces one still playing. A missing file plays nothing; a file
// that exists but cannot be played gives the system's alert sound. That
// includes a file that is not a regular file (a FIFO, a socket, a device, or a
// link to one) or is larger than kMaxFileBytes: it is never opened for
// reading, as it could hang the sound loader (and with it the console's
// closing) or fill its memory. Each file is read once, checked, and handed
// to the sound loader as a private in-memory copy, so a file swapped after
// the check is never loaded; it is kept ready, so a call is heard without delay.
class SoundPlayer : public QObject {
    Q_OBJECT
public:
    // The largest sound file played: about three minutes of 16-bit stereo at 44.1 kHz.
    static constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;

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
    // The loaded effect of a file, loading it if it is a playable file; null
    // when it is not.
    QSoundEffect *effectFor(const QString &path);
    void alert();

    QHash<QString, QSoundEffect *> m_effects;
    QList<int> m_copies; // descriptors of the in-memory copies the effects load
    QSet<QString> m_warned; // files already logged as unplayable
    QString m_last;
    QString m_pending; // asked to play while still loading
    int m_alerts = 0;
    int m_requests = 0;
};

} // namespace kalvora
