#include "core/eventlog.h"

#include "core/files.h"
#include "core/germanformat.h"
#include "platform/fs.h"
#include "platform/pathname.h"
#include "platform/textcodec.h"

#include <QThread>

#include <algorithm>
#include <optional>
#include <utility>

namespace kw {
namespace {

// How long a held line may wait for the file: what a killed program can lose of its log.
constexpr int kHeldLinesMaximumAgeMs = 1000;
// How long lines of other threads wait at most before the log's thread collects them.
constexpr int kCollectEveryMs = 20;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The hidden file beside the log that takes each new version before it becomes the log.
QString spareOf(const QString& logPath) {
    const PathName log(logPath);
    const QByteArray spareName = '.' + log.fileName().native() + ".spare";
    return log.sibling(PathName::fromNative(spareName)).text();
}

// Lines kept while the file takes none; more would be cut from the capped file anyway.
constexpr qsizetype kUnwrittenMaximum = 5000;

}  // namespace

int AppendLogFile(const QString& path, const QString& text, int maximum, const QDateTime& now) {
    return AppendLogFile(path, QList<StampedLine>{{now, text}}, maximum);
}

int AppendLogFile(const QString& path, const QList<StampedLine>& lines, int maximum) {
    if (lines.isEmpty())
        return 0;
    int error = 0;
    std::optional<QByteArray> old = fs::readAll(path, &error);
    if (!old && fs::problemOf(error) != fs::Problem::Missing)
        return error;
    QByteArray content = old.value_or(QByteArray());
    for (const StampedLine& line : lines) {
        if (content.endsWith(kCrLf))
            content.chop(2);
        if (!line.text.isEmpty()) {
            content += encodeLocal(dateText(line.time) + QLatin1Char('/') + timeText(line.time) +
                                   QLatin1String(" -> ") + line.text);
        }
        content += kCrLf;
        content += kCrLf;
    }
    content.chop(2);
    if (maximum > 0 && content.size() > maximum - 2) {
        qsizetype cut = content.size() - (maximum - 2);
        while (cut < content.size() && isContinuationByte(content[cut]))
            ++cut;
        content.remove(0, cut);
    }
    content += kCrLf;
    return fs::replaceThroughSpare(path, spareOf(path), content);
}

QString EscapedLogText(const QString& text) {
    const auto needsEscape = [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('\\');
    };
    if (std::none_of(text.begin(), text.end(), needsEscape))
        return text;
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!needsEscape(c))
            escaped += c;
        else if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QLatin1String("\\t");
        else
            escaped +=
                QLatin1String("\\x") +
                QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return escaped;
}

EventLog::EventLog(Clock clock) : m_clock(std::move(clock)) {
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kHeldLinesMaximumAgeMs);
    QObject::connect(&m_flushTimer, &QTimer::timeout, [this] { flush(); });
    m_collectTimer.setSingleShot(true);
    m_collectTimer.setInterval(kCollectEveryMs);
    QObject::connect(&m_collectTimer, &QTimer::timeout, [this] { collectLines(); });
}

EventLog::~EventLog() {
    flush();
}

bool EventLog::onOwnThread() const {
    return QThread::currentThread() == m_flushTimer.thread();
}

void EventLog::handOver(std::function<void()> call) {
    QMetaObject::invokeMethod(
        &m_flushTimer,
        [this, call] {
            collectLines();
            call();
        },
        Qt::QueuedConnection);
}

void EventLog::collectLines() {
    m_collectTimer.stop();
    QList<StampedLine> lines;
    {
        const std::lock_guard lock(m_mailLock);
        lines.swap(m_mail);
    }
    for (const StampedLine& line : lines)
        write(line.time, line.text);
}

void EventLog::holdFileLines() {
    if (!onOwnThread())
        return handOver([this] { holdFileLines(); });
    ++m_holds;
}

void EventLog::releaseFileLines() {
    if (!onOwnThread())
        return handOver([this] { releaseFileLines(); });
    if (m_holds > 0 && --m_holds == 0)
        flush();
}

void EventLog::flush() {
    if (!onOwnThread())
        return handOver([this] { flush(); });
    // Lines other threads wrote before belong to what is flushed now.
    collectLines();
    m_flushTimer.stop();
    if (m_heldLines.isEmpty())
        return;
    writeFile(std::exchange(m_heldLines, {}));
}

void EventLog::appendToWindow(const QString& text, const QDateTime& now) {
    if (!m_window)
        return;
    QString line;
    if (!text.isEmpty()) {
        line = dateText(now) + QLatin1String(" / ") + timeText(now) + QLatin1String(" ~~> ") + text;
    }
    if (m_window->lineCount() >= kDebugWindowCapacity)
        m_window->removeFirstLine();
    m_window->appendLine(line);
    m_window->selectLastLine();
}

void EventLog::writeFile(QList<StampedLine> lines) {
    if (m_logFile.isEmpty() || lines.isEmpty())
        return;
    if (!m_unwritten.isEmpty())
        lines = std::exchange(m_unwritten, {}) + lines;
    const int error = AppendLogFile(m_logFile, lines, kLogFileMaximum);
    if (error == 0) {
        if (std::exchange(m_fileFailing, false))
            appendToWindow(QLatin1String("The log file '") + EscapedLogText(m_logFile) +
                               QLatin1String("' takes lines again"),
                           m_clock());
        return;
    }
    // Said once in the debug window only, which is the one place the user can read it now.
    if (!std::exchange(m_fileFailing, true))
        appendToWindow(QLatin1String("Cannot write the log file '") + EscapedLogText(m_logFile) +
                           QLatin1String("': ") + fs::errorText(error) +
                           QLatin1String(" - trying again with the next line"),
                       m_clock());
    if (lines.size() > kUnwrittenMaximum)
        lines.remove(0, lines.size() - kUnwrittenMaximum);
    m_unwritten = std::move(lines);
}

void EventLog::WriteLog(const QString& rawText) {
    const QDateTime now = m_clock();
    if (onOwnThread()) {
        write(now, rawText);
        return;
    }
    const std::lock_guard lock(m_mailLock);
    m_mail.append({now, rawText});
    // The first line since the last collection asks for the next one.
    if (m_mail.size() == 1)
        QMetaObject::invokeMethod(&m_collectTimer, qOverload<>(&QTimer::start),
                                  Qt::QueuedConnection);
}

void EventLog::write(const QDateTime& now, const QString& rawText) {
    const QString text = EscapedLogText(rawText);
    appendToWindow(text, now);
    if (m_logFile.isEmpty())
        return;
    if (m_holds == 0) {
        writeFile({{now, text}});
        return;
    }
    if (m_heldLines.isEmpty()) {
        m_heldSince.start();
        m_flushTimer.start();
    }
    m_heldLines.append({now, text});
    // Lines collected in one long handling of events are still written every second.
    if (m_heldSince.elapsed() >= kHeldLinesMaximumAgeMs)
        flush();
}

}  // namespace kw
