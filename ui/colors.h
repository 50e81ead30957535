#pragma once

#include <QColor>
#include <QString>

class QWidget;

namespace kw {

class EventLog;

// Colours are kept as 0x00BBGGRR values: red in the lowest byte.
QColor toQColor(qint32 color);
qint32 fromQColor(const QColor& color);

// Paints the window and its controls named like text boxes, frames or the main lists
// ("text" or "frame" in the name, or exactly "lbfiles", "lbdebug", "lb") in color; other
// controls and every text colour keep theirs. Logs "Set ControlColor to #RRGGBB".
void ApplyColorScheme(QWidget* window, qint32 color, EventLog& log);

// "#RRGGBB"; the empty text for values beyond 0x00FFFFFF (negative or system colours).
QString ColorToHtml(qint32 color);

// The colour dialog, starting at black; -1 when cancelled.
qint32 PickColor(QWidget* owner);

// Red, green and blue each from RandomInRange(0, 255).
qint32 RandomColor();
// low..high, rounded to the nearest whole number with halves to the even neighbour.
qint32 RandomInRange(qint32 low, qint32 high);

}  // namespace kw
