#pragma once

#include <QObject>
#include <QPoint>

class QListWidget;

namespace kw {

// Index of the line under pos (viewport coordinates), -1 when the point is over no line.
int ListItemFromPoint(const QListWidget* list, const QPoint& pos);

// The line under pos becomes the list's selected line and, with setTip, its tooltip (as plain
// text); with setPointer the cursor is the normal one over a line and the forbidden one below
// the last line, where the selection is cleared. Returns the line's index or -1.
int TrackListHover(QListWidget* list, const QPoint& pos, bool setPointer, bool setTip);

// Runs TrackListHover with both options for every pointer move over the list.
void EnableListHover(QListWidget* list);

}  // namespace kw
