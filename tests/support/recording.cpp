#include "tests/support/recording.h"

namespace kw::test {

void RecordingProgress::SetOption(qint64 minimum, qint64 maximum, const QString& caption,
                                  bool showBar) {
    m_calls.minimum = minimum;
    m_calls.maximum = maximum;
    m_calls.caption = caption;
    m_calls.showBar = showBar;
}

int RecordingDesktop::ShowMessage(const QString& caption, const QString& text, int style) {
    messages.push_back({caption, text, style});
    return answer;
}

bool RecordingDesktop::PlaySoundFile(int code, const QString& file) {
    playedSounds.append(QString::number(code) + QLatin1Char(' ') + file);
    if (onPlaySound)
        onPlaySound();
    return true;
}

void RecordingDesktop::ShellOpen(const QString& file, const QString& parameters) {
    opened.append(parameters.isEmpty() ? file : file + QLatin1Char(' ') + parameters);
}

std::unique_ptr<CopyProgress> RecordingDesktop::CreateProgressWindow() {
    // reserve keeps the references held by earlier windows valid.
    progress.reserve(1024);
    progress.emplace_back();
    return std::make_unique<RecordingProgress>(progress.back(), onCopyProgress);
}

}  // namespace kw::test
