#include "platform/sound.h"

#include "platform/fs.h"
#include "platform/posix/fd.h"
#include "platform/textcodec.h"

#include <QApplication>
#include <QAudioOutput>
#include <QBuffer>
#include <QMediaPlayer>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <array>
#include <cerrno>

#include <fcntl.h>

namespace kw {

namespace {

// The header, the "fmt " chunk and the start of "data" lie well inside this in real files.
constexpr qint64 kHeaderBytes = 64 * 1024;

quint32 readLe32(const QByteArray& bytes, qint64 at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + at;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 readLe16(const QByteArray& bytes, qint64 at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + at;
    return quint16(p[0] | p[1] << 8);
}

QByteArray readHead(const QString& file) {
    const auto facts = fs::factsFollowingLinks(file);
    // Only a regular file: reading a FIFO would block the window thread.
    if (!facts || facts->kind != fs::Kind::Regular)
        return {};
    Fd fd(::open(encodeLocal(file).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return {};
    QByteArray head(kHeaderBytes, Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < head.size()) {
        const ssize_t n = ::read(fd.get(), head.data() + filled, size_t(head.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        filled += n;
    }
    head.truncate(filled);
    return head;
}

enum : quint16 { kFormatPcm = 1, kFormatFloat = 3, kFormatExtensible = 0xFFFE };

bool isPlayableFormat(const QByteArray& head, qint64 body, quint32 size) {
    if (size < 16 || body + 16 > head.size())
        return false;
    quint16 format = readLe16(head, body);
    const quint16 channels = readLe16(head, body + 2);
    const quint32 sampleRate = readLe32(head, body + 4);
    const quint16 blockAlign = readLe16(head, body + 12);
    const quint16 bits = readLe16(head, body + 14);
    if (format == kFormatExtensible) {
        // The real format is the first two bytes of the sub-format GUID.
        if (size < 40 || body + 40 > head.size())
            return false;
        format = readLe16(head, body + 24);
    }
    if (channels == 0 || sampleRate == 0 || blockAlign == 0)
        return false;
    if (format == kFormatPcm)
        return bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (format == kFormatFloat)
        return bits == 32 || bits == 64;
    return false;
}

struct SystemSound {
    const char* event;
    std::array<const char*, 3> themeNames;  // desktop sound-theme names, best first
};

const std::array<SystemSound, 17> kSystemSounds = {{
    {"SystemQuestion", {"dialog-question", "window-question", "dialog-information"}},
    {"SystemExclamation", {"dialog-warning"}},
    {"SystemHand", {"dialog-error", "suspend-error", "dialog-warning"}},
    {"Maximize", {"window-maximized"}},
    {"MenuCommand", {"menu-click"}},
    {"MenuPopup", {"menu-popup"}},
    {"Minimize", {"window-minimized"}},
    {"MailBeep", {"message-new-email", "message-new-instant", "message"}},
    {"Open", {"window-new"}},
    {"Close", {"window-close"}},
    {"AppGPFault", {"dialog-error", "suspend-error"}},
    {".Default", {"bell", "bell-window-system"}},
    {"SystemAsterisk", {"dialog-information"}},
    {"RestoreUp", {"window-unminimized"}},
    {"RestoreDown", {"window-unmaximized"}},
    {"SystemExit", {"service-logout", "desktop-logout"}},
    {"SystemStart", {"service-login", "desktop-login"}},
}};

bool validIndex(int index) {
    return index >= 0 && index < int(kSystemSounds.size());
}

// One player for the user's sound file, living as long as the application.
class SoundPlayer : public QObject {
public:
    explicit SoundPlayer(QObject* parent) : QObject(parent) { m_player.setAudioOutput(&m_output); }

    void play(const QString& file) {
        if (file != m_file)
            load(file);
        m_player.play();
    }
    void pause(const QString& file) {
        if (file == m_file)
            m_player.pause();
    }
    void stop(const QString& file) {
        if (file == m_file)
            m_player.stop();
    }

private:
    void load(const QString& file) {
        m_player.stop();
        m_player.setSource(QUrl());
        m_buffer.close();
        m_file = file;
        const QByteArray name = encodeLocal(file);
        if (name == file.toUtf8()) {
            m_player.setSource(QUrl::fromLocalFile(file));
            return;
        }
        // The player would mangle a name that is not UTF-8; hand it the bytes instead.
        m_buffer.setData(fs::readAll(file).value_or(QByteArray()));
        m_buffer.open(QIODevice::ReadOnly);
        m_player.setSourceDevice(&m_buffer, QUrl(QStringLiteral("sound.wav")));
    }

    QMediaPlayer m_player;
    QAudioOutput m_output;
    QBuffer m_buffer;
    QString m_file;
};

SoundPlayer* soundPlayer() {
    static QPointer<SoundPlayer> player;
    if (!player && QCoreApplication::instance())
        player = new SoundPlayer(QCoreApplication::instance());
    return player;
}

bool startDetachedPlayer(const QString& file) {
    struct Player {
        const char* program;
        QStringList arguments;
    };
    const Player players[] = {{"paplay", {file}},
                              {"pw-play", {file}},
                              {"canberra-gtk-play", {QStringLiteral("-f"), file}}};
    for (const Player& player : players) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(player.program));
        if (!program.isEmpty() && QProcess::startDetached(program, player.arguments))
            return true;
    }
    return false;
}

}  // namespace

bool CanPlaySoundFile(const QString& file) {
    if (file.isEmpty())
        return false;
    const QByteArray head = readHead(file);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return false;
    bool formatOk = false;
    qint64 at = 12;
    while (at + 8 <= head.size()) {
        const QByteArray id = head.mid(at, 4);
        const quint32 size = readLe32(head, at + 4);
        const qint64 body = at + 8;
        if (id == "fmt ")
            formatOk = isPlayableFormat(head, body, size);
        else if (id == "data")
            return formatOk;
        at = body + qint64(size) + (size & 1);  // chunks are padded to even lengths
    }
    return false;
}

bool PlaySoundFile(int code, const QString& file) {
    if (code < 0 || code > 3 || !CanPlaySoundFile(file))
        return false;
    SoundPlayer* player = soundPlayer();
    if (!player)
        return false;
    switch (code) {
        case 0:
            player->stop(file);
            break;
        case 2:
            player->pause(file);
            break;
        default:
            player->play(file);
            break;
    }
    return true;
}

QString SystemSoundEventName(int index) {
    return validIndex(index) ? QLatin1String(kSystemSounds[size_t(index)].event) : QString();
}

QString SystemSoundFile(int index) {
    if (!validIndex(index))
        return {};
    const QStringList dataFolders =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const char* name : kSystemSounds[size_t(index)].themeNames) {
        if (!name)
            continue;
        for (const QString& folder : dataFolders) {
            for (const char* extension : {".oga", ".ogg", ".wav"}) {
                const QString path = folder + QLatin1String("/sounds/freedesktop/stereo/") +
                                     QLatin1String(name) + QLatin1String(extension);
                if (fs::isReadableFile(path))
                    return path;
            }
        }
    }
    return {};
}

bool PlaySystemSound(int index) {
    if (!validIndex(index))
        return false;
    const QString file = SystemSoundFile(index);
    if (!file.isEmpty() && startDetachedPlayer(file))
        return true;
    // Without a theme sound or a player the bell is the least the user should hear.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    QApplication::beep();
    return true;
}

void SleepMs(int milliseconds) {
    if (milliseconds > 0)
        QThread::msleep(ulong(milliseconds));
}

}  // namespace kw
