#include "overview/ListWidget.h"

#include <QCoreApplication>
#include <QDropEvent>

ListWidget::ListWidget(QWidget *parent)
    : QListWidget(parent)
{
    setDragDropMode(QAbstractItemView::InternalMove);
    setDefaultDropAction(Qt::MoveAction);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

int ListWidget::moveRow(int from, int to)
{
    if (from <= 0 || from >= count())
        return from;
    to = qBound(1, to, count());
    const int landing = to > from ? to - 1 : to;
    if (landing == from)
        return from;
    // The list model cannot move a row, so the item is taken out and put
    // back. Taking it out makes the view hide its row widget and schedule
    // the widget's deletion; the widget is put back on the item and the
    // scheduled deletion taken back.
    QListWidgetItem *moving = item(from);
    QWidget *rowWidget = itemWidget(moving);
    takeItem(from);
    insertItem(landing, moving);
    if (rowWidget) {
        setItemWidget(moving, rowWidget);
        QCoreApplication::removePostedEvents(rowWidget, QEvent::DeferredDelete);
    }
    setCurrentRow(landing);
    return landing;
}

void ListWidget::dropEvent(QDropEvent *event)
{
    const int from = currentRow();
    if (from <= 0 || event->pos().y() <= headerArea) {
        event->ignore();
        return;
    }
    int to = count();
    const QModelIndex target = indexAt(event->pos());
    if (target.isValid())
        to = target.row() + (event->pos().y() > visualRect(target).center().y() ? 1 : 0);
    const int landing = moveRow(from, to);
    // The move is done here; a move action would make the drag's source
    // remove the row afterwards.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (landing != from)
        emit indexChanged(from - 1, landing - 1);
}
