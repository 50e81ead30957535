#include "ui/colors.h"

#include "core/eventlog.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QWidget>

#include <cmath>

namespace kw {
namespace {

bool takesControlColor(const QString& objectName) {
    const QString name = objectName.toLower();
    return name.contains(QLatin1String("text")) || name.contains(QLatin1String("frame")) ||
           name == QLatin1String("lbfiles") || name == QLatin1String("lbdebug") ||
           name == QLatin1String("lb");
}

void paintBackground(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    palette.setColor(QPalette::Base, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    widget->update();
}

}  // namespace

QColor toQColor(qint32 color) {
    const quint32 value = static_cast<quint32>(color);
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

qint32 fromQColor(const QColor& color) {
    return qint32(color.red() | (color.green() << 8) | (color.blue() << 16));
}

void ApplyColorScheme(QWidget* window, qint32 color, EventLog& log) {
    log.WriteLog(QLatin1String("Set ControlColor to ") + ColorToHtml(color));
    const QColor background = toQColor(color);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, background);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    for (QWidget* control : window->findChildren<QWidget*>()) {
        if (takesControlColor(control->objectName()))
            paintBackground(control, background);
    }
    window->update();
}

QString ColorToHtml(qint32 color) {
    QString hex = QString::number(static_cast<quint32>(color), 16).toUpper();
    if (hex.size() > 6)
        return {};
    hex = hex.rightJustified(6, QLatin1Char('0'));
    return QLatin1Char('#') + hex.mid(4, 2) + hex.mid(2, 2) + hex.mid(0, 2);
}

qint32 PickColor(QWidget* owner) {
    const QColor chosen = QColorDialog::getColor(
        Qt::black, owner, QCoreApplication::translate("kw::Colors", "Farbe"));
    return chosen.isValid() ? fromQColor(chosen) : -1;
}

qint32 RandomColor() {
    const qint32 red = RandomInRange(0, 255);
    const qint32 green = RandomInRange(0, 255);
    const qint32 blue = RandomInRange(0, 255);
    return red + 256 * green + 65536 * blue;
}

qint32 RandomInRange(qint32 low, qint32 high) {
    const double u = QRandomGenerator::global()->generateDouble();
    // nearbyint rounds in the default mode, halves to the even neighbour.
    return qint32(std::nearbyint(u * (double(high) - double(low)) + double(low)));
}

}  // namespace kw
