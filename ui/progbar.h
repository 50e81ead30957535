#pragma once

#include "core/desktop.h"

#include <QWidget>

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

}  // namespace kw
