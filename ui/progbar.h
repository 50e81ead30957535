#pragma once

#include "core/desktop.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

class QGroupBox;
class QLabel;
class QScrollBar;

namespace kw {

class ProgressBarBox;

// The progress window of one copy: caption, bar, percentage and "source -> destination".
// The range is scaled by powers of ten so that it fits 16-bit scroll-bar values; the hidden
// scroll bar holds the scaled minimum, maximum and value.
class ProgBar : public QWidget, public CopyProgress {
    Q_OBJECT

public:
    explicit ProgBar(QWidget* parent = nullptr);
    ~ProgBar() override;

    // Prepares range and caption, then shows the window centred and on top of all others.
    void SetOption(qint64 minimum, qint64 maximum, const QString& caption, bool showBar) override;
    // Moves the bar; a value beyond the maximum is ignored.
    void SetValue(qint64 value) override;
    // Source + " -> " + destination, shown as plain text.
    void SetMessage(const QString& message) override;

private:
    void DrawBar(int value, int minimum, int maximum);

    qint64 m_scale = 0;
    int m_scaledMinimum = 0;
    int m_scaledMaximum = 0;
    QGroupBox* m_frame = nullptr;
    ProgressBarBox* m_picture = nullptr;
    QLabel* m_percent = nullptr;
    QLabel* m_message = nullptr;
    QScrollBar* m_scroll = nullptr;
};

// How long a copy runs before its progress window appears.
inline constexpr int kProgressWindowDelayMs = 300;

// The progress window as the desktop shows it: a copy that ends within showAfterMs shows no
// window at all, so a burst of small files does not flash hundreds of windows and costs no widget;
// a longer copy gets its ProgBar at the first chunk boundary after that time, filled with
// everything it was told so far.
class DelayedProgBar : public CopyProgress {
public:
    explicit DelayedProgBar(int showAfterMs = kProgressWindowDelayMs);
    ~DelayedProgBar() override;

    void SetOption(qint64 minimum, qint64 maximum, const QString& caption, bool showBar) override;
    void SetValue(qint64 value) override;
    void SetMessage(const QString& message) override;

    // The window once it is due, else null.
    ProgBar* window() const { return m_window.get(); }

private:
    int m_showAfterMs;
    QElapsedTimer m_running;
    qint64 m_minimum = 0;
    qint64 m_maximum = 0;
    QString m_caption;
    bool m_showBar = true;
    QString m_message;
    bool m_hasMessage = false;
    std::unique_ptr<ProgBar> m_window;
};

}  // namespace kw
