#include "platform/sound.h"

#include "platform/fs.h"
#include "platform/spawn.h"
#include "platform/textcodec.h"
#include "platform/wave.h"

#include <QApplication>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

#include <array>
#include <memory>

namespace kw {

namespace {

// The header, the "fmt " chunk and the start of "data" lie well inside this in real files.
constexpr qint64 kHeaderBytes = 64 * 1024;
// The player holds the whole sound in memory; a notification sound is far smaller.
constexpr qint64 kMaxSoundBytes = 256 * 1024 * 1024;

// Only a regular file: reading a FIFO would block the window thread.
bool isSoundSizedFile(const QString& file) {
    const auto facts = fs::factsFollowingLinks(file);
    return facts && facts->kind == fs::Kind::Regular && facts->size <= kMaxSoundBytes;
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

QAudioFormat::SampleFormat deviceFormat(SampleFormat format) {
    switch (format) {
        case SampleFormat::UInt8:
            return QAudioFormat::UInt8;
        case SampleFormat::Int16:
            return QAudioFormat::Int16;
        case SampleFormat::Int32:
            return QAudioFormat::Int32;
        case SampleFormat::Float:
            return QAudioFormat::Float;
    }
    return QAudioFormat::Unknown;
}

// One player for the user's sound file, living as long as the application. It feeds the
// samples to the sound device itself, so no decoder plug-in is needed: the media back ends
// can fail hard on a machine that lacks their plug-ins.
class SoundPlayer : public QObject {
public:
    explicit SoundPlayer(QObject* parent) : QObject(parent) {}

    bool play(const QString& file) {
        if (file != m_file || !m_sink) {
            if (!load(file))
                return false;
        }
        switch (m_sink->state()) {
            case QAudio::SuspendedState:
                m_sink->resume();
                break;
            case QAudio::ActiveState:
                break;
            default:
                m_sink->stop();
                m_samples.seek(0);
                m_sink->start(&m_samples);
                break;
        }
        return true;
    }
    void pause(const QString& file) {
        if (m_sink && file == m_file && m_sink->state() == QAudio::ActiveState)
            m_sink->suspend();
    }
    void stop(const QString& file) {
        if (m_sink && file == m_file)
            m_sink->stop();
    }

private:
    bool load(const QString& file) {
        m_sink.reset();
        m_samples.close();
        m_file.clear();
        if (!isSoundSizedFile(file))
            return false;
        const auto bytes = fs::readAll(file);
        if (!bytes)
            return false;
        auto sound = DecodeWave(*bytes);
        if (!sound)
            return false;
        QAudioFormat format;
        format.setSampleRate(int(sound->sampleRate));
        format.setChannelCount(sound->channels);
        format.setSampleFormat(deviceFormat(sound->format));
        m_samples.setData(std::move(sound->samples));
        m_samples.open(QIODevice::ReadOnly);
        m_sink = std::make_unique<QAudioSink>(format);
        m_file = file;
        return true;
    }

    QBuffer m_samples;
    std::unique_ptr<QAudioSink> m_sink;
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
        // The file's name reaches the player as its own bytes.
        if (!program.isEmpty() && StartDetached(program, player.arguments, QString()))
            return true;
    }
    return false;
}

// The desktop's data folders, best first, as the environment names them. Read as bytes, so a
// folder whose name is not UTF-8 is still found.
QStringList dataFolders() {
    QStringList folders;
    const QByteArray home = qgetenv("XDG_DATA_HOME");
    folders.append(decodeLocal(home.startsWith('/') ? home : qgetenv("HOME") + "/.local/share"));
    QByteArray shared = qgetenv("XDG_DATA_DIRS");
    if (shared.isEmpty())
        shared = "/usr/local/share:/usr/share";
    for (const QByteArray& folder : shared.split(':')) {
        if (folder.startsWith('/'))
            folders.append(decodeLocal(folder));
    }
    return folders;
}

// The desktop sound-theme file that stands for the event, empty when the theme has none.
QString SystemSoundFile(int index) {
    if (!validIndex(index))
        return {};
    const QStringList folders = dataFolders();
    for (const char* name : kSystemSounds[size_t(index)].themeNames) {
        if (!name)
            continue;
        for (const QString& folder : folders) {
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

}  // namespace

bool CanPlaySoundFile(const QString& file) {
    if (file.isEmpty() || !isSoundSizedFile(file))
        return false;
    const auto head = fs::readStart(file, kHeaderBytes);
    return head && ParseWave(*head).has_value();
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
            return true;
        case 2:
            player->pause(file);
            return true;
        default:
            return player->play(file);
    }
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
