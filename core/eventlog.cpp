#include "core/eventlog.h"

#include "core/files.h"
#include "core/germanformat.h"
#include "platform/fs.h"
#include "platform/textcodec.h"

namespace kw {
namespace {

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
    QByteArray content = fs::readAll(path).value_or(QByteArray());
    if (content.endsWith(kCrLf))
        content.chop(2);
    if (!text.isEmpty()) {
        content += encodeLocal(dateText(now) + QLatin1Char('/') + timeText(now) +
                               QLatin1String(" -> ") + text);
    }
    content += kCrLf;
    if (maximum > 0 && content.size() > maximum - 2) {
        qsizetype cut = content.size() - (maximum - 2);
        while (cut < content.size() && isContinuationByte(content[cut]))
            ++cut;
        content.remove(0, cut);
    }
    content += kCrLf;
    fs::replaceThroughSpare(path, spareOf(path), content);
}

EventLog::EventLog(Clock clock) : m_clock(std::move(clock)) {}

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
    if (!m_logFile.isEmpty())
        AppendLogFile(m_logFile, text, kLogFileMaximum, m_clock());
}

}  // namespace kw
