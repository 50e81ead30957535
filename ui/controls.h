#pragma once

#include <QRect>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;
class QWidget;

namespace kw {

// Controls as the program's windows build them: named for the colour scheme and the tests, in
// the design's colours (0x00BBGGRR) and fonts.
void setTextColor(QWidget* widget, qint32 color);
void setBackgroundColor(QWidget* widget, qint32 color);
// A bold button under the pointing hand that the mouse does not focus, so a click leaves the
// focus where the user types.
QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption,
                        const QRect& geometry);
// A label of plain text: captions may come from other programs and must never be markup.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption,
                  const QRect& geometry, qint32 color);
// Loads a closed window and shows it; an open window is only raised, keeping what it shows.
void openWindow(QWidget* window, const std::function<void()>& load);

}  // namespace kw
