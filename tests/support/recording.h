#pragma once

#include "core/desktop.h"
#include "core/eventlog.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace kw::test {

// A debug window that keeps its lines in memory.
struct RecordingDebugWindow : DebugWindow {
    int lineCount() const override { return int(lines.size()); }
    void appendLine(const QString& line) override { lines.append(line); }
    void removeFirstLine() override { lines.removeFirst(); }
    void selectLastLine() override {}
    void clearLines() override { lines.clear(); }
    QStringList lines;
};

struct ShownMessage {
    QString caption, text;
};

// A progress window that records what the copy told it.
struct RecordingProgress : CopyProgress {
    struct Calls {
        std::vector<qint64> values;
        QString message;  // "source -> destination"
    };
    RecordingProgress(Calls& calls, std::function<void()> onValue)
        : calls(calls), onValue(std::move(onValue)) {}
    void SetOption(qint64, qint64, const QString&, bool) override {}
    void SetValue(qint64 value) override {
        calls.values.push_back(value);
        if (onValue)
            onValue();
    }
    void SetMessage(const QString& message) override { calls.message = message; }
    Calls& calls;
    std::function<void()> onValue;
};

// A desktop that answers message boxes with a preset answer and records every request.
struct RecordingDesktop : Desktop {
    int ShowMessage(const QString& caption, const QString& text, int) override {
        messages.push_back({caption, text});
        return answer;
    }
    bool PlaySoundFile(int, const QString&) override {
        if (onPlaySound)
            onPlaySound();
        return true;
    }
    void ShellOpen(const QString& file, const QString& parameters) override {
        opened.append(parameters.isEmpty() ? file : file + QLatin1Char(' ') + parameters);
    }
    void OpenDocument(const QString& path) override { openedDocuments.append(path); }
    void OpenTextFile(const QString&) override {}
    std::unique_ptr<CopyProgress> CreateProgressWindow() override {
        progress.reserve(1024);  // keeps the references held by earlier windows valid
        progress.emplace_back();
        return std::make_unique<RecordingProgress>(progress.back(), onCopyProgress);
    }

    int answer = IDOK;
    std::vector<ShownMessage> messages;
    std::function<void()> onPlaySound;     // runs inside PlaySoundFile, to act at that step
    std::function<void()> onCopyProgress;  // runs between a copy's chunks
    QStringList opened;                    // ShellOpen requests: file, or file + " " + parameters
    QStringList openedDocuments;
    std::vector<RecordingProgress::Calls> progress;  // one entry per progress window
};

}  // namespace kw::test
