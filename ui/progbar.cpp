#include "ui/progbar.h"

#include "platform/placement.h"

#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>

#include <cmath>
#include <limits>

namespace kw {

// The picture box the bar is drawn into: a filled box in the highlight colour from the left
// edge to the current percentage.
class ProgressBarBox : public QFrame {
public:
    explicit ProgressBarBox(QWidget* parent) : QFrame(parent) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setBackgroundRole(QPalette::Base);
        setAutoFillBackground(true);
    }

    void setPercent(int percent) {
        m_percent = percent;
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QFrame::paintEvent(event);
        if (m_percent <= 0)
            return;
        const QRect area = contentsRect();
        const int width = int(std::lround((area.width() - 2) / 100.0 * m_percent));
        QPainter painter(this);
        painter.fillRect(
            QRect(area.topLeft(), area.topLeft() + QPoint(width + 1, area.height() - 1)),
            palette().color(QPalette::Highlight));
    }

private:
    int m_percent = 0;
};

namespace {

constexpr qint64 kScaledLimit = std::numeric_limits<qint16>::max();
constexpr qint64 kScaledFloor = std::numeric_limits<qint16>::min();

// Sizes in pixels of the window's twips layout (15 twips per pixel).
constexpr int kWindowWidth = 378;             // 5670 twips
constexpr int kWindowHeightWithBar = 87;      // 1305
constexpr int kWindowHeightWithoutBar = 54;   // 810
constexpr int kFrameHeightWithBar = 81;       // 1215
constexpr int kFrameHeightWithoutBar = 49;    // 735
constexpr int kMessageHeightWithBar = 33;     // 495
constexpr int kMessageHeightWithoutBar = 25;  // 375

// value / divisor rounded to the nearest integer, halves to the even neighbour.
qint64 roundedQuotient(qint64 value, qint64 divisor) {
    qint64 quotient = value / divisor;
    const qint64 remainder = value % divisor;
    const qint64 twice = 2 * (remainder < 0 ? -remainder : remainder);
    const qint64 step = value < 0 ? -1 : 1;
    if (twice > divisor || (twice == divisor && quotient % 2 != 0))
        quotient += step;
    return quotient;
}

int toScrollValue(qint64 value) {
    return int(qBound(kScaledFloor, value, kScaledLimit));
}

}  // namespace

ProgBar::ProgBar(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowDoesNotAcceptFocus),
      m_frame(new QGroupBox(QStringLiteral("FrameCaption"), this)),
      m_picture(new ProgressBarBox(m_frame)),
      m_percent(new QLabel(QStringLiteral("xxx%"), m_frame)),
      m_message(new QLabel(QStringLiteral("Message"), m_frame)),
      m_scroll(new QScrollBar(Qt::Horizontal, this)) {
    setObjectName(QStringLiteral("ProgBar"));
    m_frame->setObjectName(QStringLiteral("Frame1"));
    m_picture->setObjectName(QStringLiteral("Picture1"));
    m_percent->setObjectName(QStringLiteral("Label1"));
    m_message->setObjectName(QStringLiteral("Message"));
    m_scroll->setObjectName(QStringLiteral("HScroll"));

    // Paths come from whoever filled the watched folder: never let them be read as markup.
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_percent->setTextFormat(Qt::PlainText);
    m_percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_scroll->hide();

    m_frame->setGeometry(4, 2, kWindowWidth - 8, kFrameHeightWithBar);
    m_picture->setGeometry(8, 20, 306, 17);
    m_percent->setGeometry(318, 20, 44, 17);
    m_message->setGeometry(8, 42, kWindowWidth - 24, kMessageHeightWithBar);
    setFixedSize(kWindowWidth, kWindowHeightWithBar);
}

ProgBar::~ProgBar() = default;

void ProgBar::SetOption(qint64 minimum, qint64 maximum, const QString& caption, bool showBar) {
    // Smallest power of ten that brings the rounded maximum into the 16-bit range.
    m_scale = 1;
    while (roundedQuotient(maximum, m_scale) > kScaledLimit)
        m_scale *= 10;
    m_scaledMaximum = toScrollValue(roundedQuotient(maximum, m_scale));
    // The minimum is scaled like every value, so that the percentage stays right for
    // a minimum other than 0.
    m_scaledMinimum = toScrollValue(roundedQuotient(minimum, m_scale));
    m_scroll->setRange(m_scaledMinimum, m_scaledMaximum);
    m_scroll->setValue(m_scaledMinimum < 1 ? 0 : m_scaledMinimum);
    DrawBar(0, m_scaledMinimum, m_scaledMaximum);

    m_frame->setTitle(caption);
    setWindowTitle(caption);
    m_message->clear();

    const int frameHeight = showBar ? kFrameHeightWithBar : kFrameHeightWithoutBar;
    const int messageHeight = showBar ? kMessageHeightWithBar : kMessageHeightWithoutBar;
    m_frame->resize(m_frame->width(), frameHeight);
    m_picture->setVisible(showBar);
    m_percent->setVisible(showBar);
    m_message->setGeometry(8, showBar ? 42 : 18, m_message->width(), messageHeight);
    setFixedSize(kWindowWidth, showBar ? kWindowHeightWithBar : kWindowHeightWithoutBar);

    PlaceForm(this);
    SetWindowTopmost(this, false);
    show();
    repaint();
}

void ProgBar::SetValue(qint64 value) {
    if (m_scale == 0)  // no range yet
        return;
    const qint64 scaled = roundedQuotient(value, m_scale);
    if (scaled > m_scroll->maximum())
        return;
    m_scroll->setValue(toScrollValue(scaled));
    DrawBar(toScrollValue(scaled), m_scaledMinimum, m_scaledMaximum);
}

void ProgBar::SetMessage(const QString& message) {
    m_message->setText(message);
    m_message->setToolTip(message);
}

void ProgBar::DrawBar(int value, int minimum, int maximum) {
    if (value < minimum || value > maximum || minimum >= maximum)
        return;
    const int percent = int(qint64(100) * (value - minimum) / (maximum - minimum));
    if (percent != 0)
        m_picture->setPercent(percent);
    m_percent->setText(QString::number(percent) + QLatin1Char('%'));
    m_percent->repaint();
}

}  // namespace kw
