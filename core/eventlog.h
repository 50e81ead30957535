#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>

#include <functional>
#include <mutex>

namespace kw {

// The debug window as the log sees it; the main window shows it as a list.
class DebugWindow {
public:
    virtual ~DebugWindow() = default;
    virtual int lineCount() const = 0;
    virtual void appendLine(const QString& line) = 0;
    virtual void removeFirstLine() = 0;
    virtual void selectLastLine() = 0;
    virtual void clearLines() = 0;
};

inline constexpr int kDebugWindowCapacity = 32767;
inline constexpr int kLogFileMaximum = 50000;

// Appends the stamped line "dd.MM.yyyy/HH:mm:ss -> text" (an empty line for the empty text) and
// keeps the file at most maximum bytes by cutting its oldest bytes, never inside a character.
// 0, or the failure that kept the line out of the file: a log that exists but cannot be read is
// left alone, not replaced by the new lines.
int AppendLogFile(const QString& path, const QString& text, int maximum,
                  const QDateTime& now = QDateTime::currentDateTime());

struct StampedLine {
    QDateTime time;
    QString text;
};
// The same for several lines at once: one rewrite of the file for all of them.
int AppendLogFile(const QString& path, const QList<StampedLine>& lines, int maximum);

// A log text with its control characters (C0 and DEL) written as escapes (\r, \n, \t, \xNN) and
// its backslashes doubled, so a file name holding a line break can neither split its line nor
// forge one.
QString EscapedLogText(const QString& text);

// The one reporting routine: every line goes to the debug window and to the log file. Lines the
// file did not take are kept and written with the next line it takes; the debug window says when
// the file stops taking lines and when it takes them again. Lines may come from any thread: they
// are stamped when written and handled, in their order, on the thread that made the log, which
// collects those of other threads a few times a second rather than being woken for each.
class EventLog {
public:
    using Clock = std::function<QDateTime()>;

    explicit EventLog(Clock clock = &QDateTime::currentDateTime);
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void setLogFile(const QString& path) { m_logFile = path; }
    // The debug window may come later than the first lines, and may go away before the last.
    void setDebugWindow(DebugWindow* window) { m_window = window; }

    void WriteLog(const QString& text);

    // While lines are held, the debug window shows each at once but the file gets them together:
    // a second after the first held line at the latest, and when the hold ends. A burst of
    // thousands of lines then costs a few rewrites of the capped file, not one per line.
    void holdFileLines();
    void releaseFileLines();
    // Writes the held lines now, with those other threads have written so far.
    void flush();
    // Handles now the lines other threads have written so far.
    void collectLines();

private:
    bool onOwnThread() const;
    // Another thread's call, after the lines that thread wrote before it.
    void handOver(std::function<void()> call);
    void write(const QDateTime& time, const QString& rawText);
    void appendToWindow(const QString& text, const QDateTime& time);
    void writeFile(QList<StampedLine> lines);

    Clock m_clock;
    QString m_logFile;
    DebugWindow* m_window = nullptr;
    int m_holds = 0;
    QList<StampedLine> m_heldLines;
    QElapsedTimer m_heldSince;
    QTimer m_flushTimer;
    // Lines of other threads, until the log's thread collects them.
    std::mutex m_mailLock;
    QList<StampedLine> m_mail;
    QTimer m_collectTimer;
    QList<StampedLine> m_unwritten;  // lines the file did not take yet, oldest first
    bool m_fileFailing = false;
};

}  // namespace kw
