#pragma once

#include "controller/ControllerStatus.h"

#include <QColor>
#include <QDialog>
#include <QList>
#include <QString>

#include <memory>

class ListWidget;
class OverviewWidget;
class QListWidgetItem;

namespace Ui {
class ConnectionOverviewDialog;
}

// "System Configuration": one row per controller of the main window under a
// fixed header row. The dialog does not talk to controllers; it re-emits the
// rows' requests for the main window, and the main window refreshes the rows
// from its status records at every display tick (updateConnections).
//
// Rows belong to controllers by address: a row keeps its place on screen
// while others come, go or are dragged elsewhere, and order() tells where
// each controller's row is.
class ConnectionOverviewDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ConnectionOverviewDialog(QWidget *parent = nullptr);
    ~ConnectionOverviewDialog() override;

    // Brings the rows in line with the main window's records (one row per
    // record, same index). Cheap when nothing changed: only widgets whose
    // state differs are touched.
    void updateConnections(const QList<ControllerStatus> &status);

    // For each controller (index of the records last given), the place of
    // its row on screen counted from 0 below the header. A saved setup
    // stores the controllers in this order.
    QList<int> order() const { return places; }

    // Marks the row of the controller with this address busy or not (its
    // Start/Stop switches are disabled while busy); meant for the
    // controller's busyChanged signal.
    void setControllerBusy(const QString &address, bool busy);

    // The row of controller index (0-based), or the header for -1.
    OverviewWidget *row(int index) const;
    int rowCount() const { return rows.size() - 1; }
    ListWidget *list() const;

signals:
    void displayConnection(QString address, bool show);
    void displayCommonDetector(QString address, bool show);
    void changeColor(QString address, QColor color, int graph);
    void changeStage(QString address, int stage, bool active);
    void openParamDialog(QString address);
    void multiplexDetectors(QString address, bool status, int stage);
    void newGroupId(QString address, int id);

public slots:
    // Declared for the main window's wiring; nothing more is shown for them.
    void setDisplayConnection(QString address, bool show);
    void setDisplayCommonDetector(QString address, bool show);

private slots:
    // A row moved on screen from place oldIndex to newIndex.
    void changeOrder(int oldIndex, int newIndex);
    void on_closePushButton_clicked();

private:
    bool rowsMatch(const QList<ControllerStatus> &status) const;
    void realign(const QList<ControllerStatus> &status);
    OverviewWidget *createRow(const QString &address);
    void removeRow(OverviewWidget *row, QListWidgetItem *item);
    void wire(OverviewWidget *row, bool on);

    std::unique_ptr<Ui::ConnectionOverviewDialog> ui;
    QList<OverviewWidget *> rows;     // [0] = header, [i + 1] = controller i
    QList<QListWidgetItem *> items;   // the list item of each row
    QList<int> places;                // place on screen of controller i
};
