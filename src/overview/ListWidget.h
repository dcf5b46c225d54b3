#pragma once

#include <QListWidget>

// The list of the system configuration overview. Rows are moved by drag and
// drop inside the list; the first row is the header and stays on top: it
// cannot be dragged, and nothing can be dropped onto the header area.
class ListWidget : public QListWidget
{
    Q_OBJECT
public:
    // Drops this close to the top of the list land on the header.
    static constexpr int headerArea = 23;

    explicit ListWidget(QWidget *parent = nullptr);

    // Moves row `from` so that it lands before row `to` (to = count() puts it
    // last); the header row neither moves nor can be passed. Returns the new
    // row of the moved row, or `from` when nothing moved.
    int moveRow(int from, int to);

signals:
    // A row moved; indices count the rows below the header.
    void indexChanged(int oldIndex, int newIndex);

protected:
    void dropEvent(QDropEvent *event) override;
};
