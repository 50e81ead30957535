#include "ui/listhover.h"

#include <QEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QTextDocument>

namespace kw {
namespace {

class ListHoverFilter : public QObject {
public:
    explicit ListHoverFilter(QListWidget* list) : QObject(list), m_list(list) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseMove) {
            const auto* move = static_cast<QMouseEvent*>(event);
            TrackListHover(m_list, move->position().toPoint(), true, true);
        }
        return false;
    }

private:
    QListWidget* m_list;
};

}  // namespace

int ListItemFromPoint(const QListWidget* list, const QPoint& pos) {
    const QModelIndex index = list->indexAt(pos);
    return index.isValid() ? index.row() : -1;
}

int TrackListHover(QListWidget* list, const QPoint& pos, bool setPointer, bool setTip) {
    const int row = ListItemFromPoint(list, pos);
    if (row >= 0) {
        list->setCurrentRow(row);
    } else {
        list->setCurrentRow(-1);
        list->clearSelection();
    }
    if (setPointer)
        list->viewport()->setCursor(row >= 0 ? Qt::ArrowCursor : Qt::ForbiddenCursor);
    if (setTip) {
        // File names come from strangers: the tip must never be read as markup.
        list->setToolTip(
            row >= 0 ? Qt::convertFromPlainText(list->item(row)->text(), Qt::WhiteSpaceNoWrap)
                     : QString());
    }
    return row;
}

void EnableListHover(QListWidget* list) {
    list->setMouseTracking(true);
    list->viewport()->setMouseTracking(true);
    list->viewport()->installEventFilter(new ListHoverFilter(list));
}

}  // namespace kw
