#include "platform/sound.h"

#include "platform/fs.h"
#include "platform/posix/fd.h"
#include "platform/textcodec.h"

#include <QApplication>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <array>
#include <cerrno>
#include <memory>
#include <optional>

#include <fcntl.h>

namespace kw {

namespace {

// The header, the "fmt " chunk and the start of "data" lie well inside this in real files.
constexpr qint64 kHeaderBytes = 64 * 1024;
// The player holds the whole sound in memory; a notification sound is far smaller.
constexpr qint64 kMaxSoundBytes = 256 * 1024 * 1024;

quint32 readLe32(const QByteArray& bytes, qint64 at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + at;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 readLe16(const QByteArray& bytes, qint64 at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + at;
    return quint16(p[0] | p[1] << 8);
}

// Only a regular file: reading a FIFO would block the window thread.
bool isSoundSizedFile(const QString& file) {
    const auto facts = fs::factsFollowingLinks(file);
    return facts && facts->kind == fs::Kind::Regular && facts->size <= kMaxSoundBytes;
}

QByteArray readHead(const QString& file) {
    if (!isSoundSizedFile(file))
        return {};
    Fd fd(::open(encodeLocal(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
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

struct WaveLayout {
    quint16 format = 0;  // kFormatPcm or kFormatFloat
    quint16 channels = 0;
    quint32 sampleRate = 0;
    quint16 bits = 0;
    qint64 dataOffset = 0;
    qint64 dataLength = 0;  // as the header says; the file may hold less
};

bool readFormat(const QByteArray& bytes, qint64 body, quint32 size, WaveLayout& layout) {
    if (size < 16 || body + 16 > bytes.size())
        return false;
    layout.format = readLe16(bytes, body);
    layout.channels = readLe16(bytes, body + 2);
    layout.sampleRate = readLe32(bytes, body + 4);
    const quint16 blockAlign = readLe16(bytes, body + 12);
    layout.bits = readLe16(bytes, body + 14);
    if (layout.format == kFormatExtensible) {
        // The real format is the first two bytes of the sub-format GUID.
        if (size < 40 || body + 40 > bytes.size())
            return false;
        layout.format = readLe16(bytes, body + 24);
    }
    if (layout.channels == 0 || layout.sampleRate == 0 ||
        blockAlign != layout.channels * (layout.bits / 8))
        return false;
    if (layout.format == kFormatPcm)
        return layout.bits == 8 || layout.bits == 16 || layout.bits == 24 || layout.bits == 32;
    return layout.format == kFormatFloat && layout.bits == 32;
}

// Walks the RIFF chunks up to "data"; nullopt unless a playable "fmt " chunk comes before it.
std::optional<WaveLayout> parseWave(const QByteArray& bytes) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;
    WaveLayout layout;
    bool formatOk = false;
    qint64 at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = readLe32(bytes, at + 4);
        const qint64 body = at + 8;
        if (id == "fmt ") {
            formatOk = readFormat(bytes, body, size, layout);
        } else if (id == "data") {
            if (!formatOk)
                return std::nullopt;
            layout.dataOffset = body;
            layout.dataLength = size;
            return layout;
        }
        at = body + qint64(size) + (size & 1);  // chunks are padded to even lengths
    }
    return std::nullopt;
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

// Little-endian samples go to the sound device as they lie in the file.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

// Samples of 24 bits have no device format of their own: widen them to 32 bits.
QByteArray widen24To32(QByteArrayView samples) {
    QByteArray wide;
    wide.reserve(samples.size() / 3 * 4);
    for (qsizetype i = 0; i + 3 <= samples.size(); i += 3) {
        wide.append('\0');
        wide.append(samples.sliced(i, 3));
    }
    return wide;
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
        const auto layout = parseWave(*bytes);
        if (!layout)
            return false;
        const QByteArrayView samples =
            QByteArrayView(*bytes)
                .sliced(layout->dataOffset)
                .first(qMin(layout->dataLength, bytes->size() - layout->dataOffset));
        QAudioFormat format;
        format.setSampleRate(int(layout->sampleRate));
        format.setChannelCount(layout->channels);
        if (layout->format == kFormatFloat)
            format.setSampleFormat(QAudioFormat::Float);
        else if (layout->bits == 8)
            format.setSampleFormat(QAudioFormat::UInt8);
        else if (layout->bits == 16)
            format.setSampleFormat(QAudioFormat::Int16);
        else
            format.setSampleFormat(QAudioFormat::Int32);
        m_samples.setData(layout->bits == 24 ? widen24To32(samples) : samples.toByteArray());
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
        if (!program.isEmpty() && QProcess::startDetached(program, player.arguments))
            return true;
    }
    return false;
}

// The desktop sound-theme file that stands for the event, empty when the theme has none.
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

}  // namespace

bool CanPlaySoundFile(const QString& file) {
    return !file.isEmpty() && parseWave(readHead(file)).has_value();
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
