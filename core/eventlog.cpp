#include "core/eventlog.h"

#include "core/files.h"
#include "core/germanformat.h"
#include "platform/fs.h"
#include "platform/textcodec.h"

#include <utility>

namespace kw {
namespace {

// How long a held line may wait for the file: what a killed program can lose of its log.
constexpr int kHeldLinesMaximumAgeMs = 1000;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The hidden file beside the log that takes each new version before it becomes the log.
QString spareOf(const QString& logPath) {
    const qsizetype slash = logPath.lastIndexOf(QLatin1Char('/'));
    return logPath.left(slash + 1) + QLatin1Char('.') + logPath.mid(slash + 1) +
           QLatin1String(".spare");
}

}  // namespace

void AppendLogFile(const QString& path, const QString& text, int maximum, const QDateTime& now) {
    AppendLogFile(path, QList<StampedLine>{{now, text}}, maximum);
}

void AppendLogFile(const QString& path, const QList<StampedLine>& lines, int maximum) {
    if (lines.isEmpty())
        return;
    QByteArray content = fs::readAll(path).value_or(QByteArray());
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
    fs::replaceThroughSpare(path, spareOf(path), content);
}

EventLog::EventLog(Clock clock) : m_clock(std::move(clock)) {
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kHeldLinesMaximumAgeMs);
    QObject::connect(&m_flushTimer, &QTimer::timeout, [this] { flush(); });
}

EventLog::~EventLog() {
    flush();
}

void EventLog::holdFileLines() {
    ++m_holds;
}

void EventLog::releaseFileLines() {
    if (m_holds > 0 && --m_holds == 0)
        flush();
}

void EventLog::flush() {
    m_flushTimer.stop();
    if (m_heldLines.isEmpty())
        return;
    const QList<StampedLine> lines = std::exchange(m_heldLines, {});
    if (!m_logFile.isEmpty())
        AppendLogFile(m_logFile, lines, kLogFileMaximum);
}

void EventLog::WriteLog(const QString& text) {
    if (m_window) {
        QString line;
        if (!text.isEmpty()) {
            const QDateTime now = m_clock();
            line = dateText(now) + QLatin1String(" / ") + timeText(now) + QLatin1String(" ~~> ") +
                   text;
        }
        if (m_window->lineCount() >= kDebugWindowCapacity)
            m_window->removeFirstLine();
        m_window->appendLine(line);
        m_window->selectLastLine();
    }
    if (m_logFile.isEmpty())
        return;
    if (m_holds == 0) {
        AppendLogFile(m_logFile, text, kLogFileMaximum, m_clock());
        return;
    }
    if (m_heldLines.isEmpty()) {
        m_heldSince.start();
        m_flushTimer.start();
    }
    m_heldLines.append({m_clock(), text});
    // A pass that does not yield to the event loop still writes its lines every second.
    if (m_heldSince.elapsed() >= kHeldLinesMaximumAgeMs)
        flush();
}

}  // namespace kw
