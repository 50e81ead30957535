#include "ui/controls.h"

#include "ui/colors.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>

namespace kw {

void setTextColor(QWidget* widget, qint32 color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, toQColor(color));
    palette.setColor(QPalette::Text, toQColor(color));
    widget->setPalette(palette);
}

void setBackgroundColor(QWidget* widget, qint32 color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, toQColor(color));
    palette.setColor(QPalette::Base, toQColor(color));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption,
                        const QRect& geometry) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    QFont font = button->font();
    font.setBold(true);
    font.setPointSizeF(8.25);
    button->setFont(font);
    return button;
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption,
                  const QRect& geometry, qint32 color) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    setTextColor(label, color);
    return label;
}

void openWindow(QWidget* window, const std::function<void()>& load) {
    if (!window->isVisible())
        load();
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace kw
