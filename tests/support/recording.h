#pragma once

#include "core/desktop.h"
#include "core/eventlog.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace kw::test {

// A debug window that keeps its lines in memory.
class RecordingDebugWindow : public DebugWindow {
public:
    int lineCount() const override { return int(lines.size()); }
    void appendLine(const QString& line) override { lines.append(line); }
    void removeFirstLine() override { lines.removeFirst(); }
    void selectLastLine() override { selected = int(lines.size()) - 1; }
    void clearLines() override { lines.clear(); }

    QStringList lines;
    int selected = -1;
};

struct ShownMessage {
    QString caption;
    QString text;
    int style = 0;
};

// A progress window that records what the copy told it.
class RecordingProgress : public CopyProgress {
public:
    struct Calls {
        qint64 minimum = -1;
        qint64 maximum = -1;
        QString caption;
        bool showBar = false;
        QString message;
        std::vector<qint64> values;
        bool destroyed = false;
    };
    RecordingProgress(Calls& calls, std::function<void()> onValue)
        : m_calls(calls), m_onValue(std::move(onValue)) {}
    ~RecordingProgress() override { m_calls.destroyed = true; }
    void SetOption(qint64 minimum, qint64 maximum, const QString& caption, bool showBar) override {
        m_calls.minimum = minimum;
        m_calls.maximum = maximum;
        m_calls.caption = caption;
        m_calls.showBar = showBar;
    }
    void SetValue(qint64 value) override {
        m_calls.values.push_back(value);
        if (m_onValue)
            m_onValue();
    }
    void SetMessage(const QString& message) override { m_calls.message = message; }

private:
    Calls& m_calls;
    std::function<void()> m_onValue;
};

// A desktop that answers message boxes with a preset answer and records every request.
class RecordingDesktop : public Desktop {
public:
    int ShowMessage(const QString& caption, const QString& text, int style) override {
        messages.push_back({caption, text, style});
        return answer;
    }
    bool PlaySoundFile(int code, const QString& file) override {
        playedSounds.append(QString::number(code) + QLatin1Char(' ') + file);
        if (onPlaySound)
            onPlaySound();
        return true;
    }
    void ShellOpen(const QString& file, const QString& parameters) override {
        opened.append(parameters.isEmpty() ? file : file + QLatin1Char(' ') + parameters);
    }
    void OpenDocument(const QString& path) override { openedDocuments.append(path); }
    void OpenTextFile(const QString& path) override { openedTextFiles.append(path); }
    std::unique_ptr<CopyProgress> CreateProgressWindow() override {
        progress.reserve(1024);  // keeps the references held by earlier windows valid
        progress.emplace_back();
        return std::make_unique<RecordingProgress>(progress.back(), onCopyProgress);
    }

    int answer = IDOK;
    std::vector<ShownMessage> messages;
    QStringList playedSounds;
    std::function<void()> onPlaySound;  // runs inside PlaySoundFile, to act at that step
    // Runs inside every progress update of a copy, after a chunk and before the copy's yield.
    std::function<void()> onCopyProgress;
    QStringList opened;  // ShellOpen requests: file, or file + " " + parameters
    QStringList openedDocuments;
    QStringList openedTextFiles;
    std::vector<RecordingProgress::Calls> progress;  // one entry per progress window
};

}  // namespace kw::test
