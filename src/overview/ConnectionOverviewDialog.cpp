#include "overview/ConnectionOverviewDialog.h"

#include "ui_connectionoverviewdialog.h"

#include "overview/ListWidget.h"
#include "overview/OverviewWidget.h"

#include <QDebug>
#include <QHash>
#include <QListWidgetItem>
#include <QStyle>

ConnectionOverviewDialog::ConnectionOverviewDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ConnectionOverviewDialog)
{
    qInfo() << "Constructing ConnectionOverviewDialog";
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *header = new OverviewWidget(true);
    header->setObjectName(QStringLiteral("headerRow"));
    auto *item = new QListWidgetItem;
    // The header can be neither selected nor dragged.
    item->setFlags(Qt::ItemIsEnabled);
    item->setSizeHint(header->sizeHint());
    ui->listWidget->addItem(item);
    ui->listWidget->setItemWidget(item, header);
    rows.append(header);
    items.append(item);

    connect(ui->listWidget, &ListWidget::indexChanged, this, &ConnectionOverviewDialog::changeOrder);
    // The list is as wide as a row plus the scroll bar that many rows bring,
    // so a row is never cut.
    ui->listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->listWidget->setMinimumWidth(ui->listWidget->sizeHintForColumn(0) + 2 * ui->listWidget->frameWidth()
                                    + style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    resize(qMax(580, minimumSizeHint().width()), height());
    qInfo() << "Finished constructing ConnectionOverviewDialog";
}

ConnectionOverviewDialog::~ConnectionOverviewDialog()
{
    while (rows.size() > 1)
        removeRow(rows.takeLast(), items.takeLast());
}

ListWidget *ConnectionOverviewDialog::list() const
{
    return ui->listWidget;
}

void ConnectionOverviewDialog::setControllerBusy(const QString &address, bool busy)
{
    for (int i = 1; i < rows.size(); ++i)
        if (rows.at(i)->address() == address)
            rows.at(i)->setBusy(busy);
}

OverviewWidget *ConnectionOverviewDialog::row(int index) const
{
    return index + 1 >= 0 && index + 1 < rows.size() ? rows.at(index + 1) : nullptr;
}

void ConnectionOverviewDialog::updateConnections(const QList<ControllerStatus> &status)
{
    if (!rowsMatch(status))
        realign(status);
    for (int i = 0; i < status.size(); ++i)
        rows.at(i + 1)->updateFromSettings(status.at(i));
}

// Whether row i + 1 already belongs to record i for every record: then the
// rows only need their state refreshed.
bool ConnectionOverviewDialog::rowsMatch(const QList<ControllerStatus> &status) const
{
    if (rows.size() != status.size() + 1)
        return false;
    for (int i = 0; i < status.size(); ++i)
        if (rows.at(i + 1)->address() != status.at(i).address)
            return false;
    return true;
}

// Controllers came or went: keep the rows of controllers that are still
// there (found by address, in their places on screen), take out the others
// and append a row at the bottom for each new controller.
void ConnectionOverviewDialog::realign(const QList<ControllerStatus> &status)
{
    QMultiHash<QString, int> byAddress; // address -> index into rows
    for (int r = rows.size() - 1; r >= 1; --r)
        byAddress.insert(rows.at(r)->address(), r);
    QList<OverviewWidget *> keptRows{rows.first()};
    QList<QListWidgetItem *> keptItems{items.first()};
    QVector<bool> used(rows.size(), false);
    QList<int> newRecords;
    for (int i = 0; i < status.size(); ++i) {
        const int r = byAddress.value(status.at(i).address, -1);
        if (r > 0) {
            byAddress.remove(status.at(i).address, r);
            used[r] = true;
            keptRows.append(rows.at(r));
            keptItems.append(items.at(r));
        } else {
            keptRows.append(nullptr);
            keptItems.append(nullptr);
            newRecords.append(i);
        }
    }
    for (int r = rows.size() - 1; r >= 1; --r)
        if (!used[r])
            removeRow(rows.at(r), items.at(r));
    rows = keptRows;
    items = keptItems;
    for (int i : newRecords) {
        OverviewWidget *added = createRow(status.at(i).address);
        rows[i + 1] = added;
        items[i + 1] = ui->listWidget->item(ui->listWidget->count() - 1);
    }
    places.clear();
    for (int i = 1; i < items.size(); ++i)
        places.append(ui->listWidget->row(items.at(i)) - 1);
}

OverviewWidget *ConnectionOverviewDialog::createRow(const QString &address)
{
    auto *added = new OverviewWidget(false);
    added->setAddress(address);
    auto *item = new QListWidgetItem;
    item->setSizeHint(added->sizeHint());
    ui->listWidget->addItem(item);
    ui->listWidget->setItemWidget(item, added);
    wire(added, true);
    return added;
}

void ConnectionOverviewDialog::removeRow(OverviewWidget *row, QListWidgetItem *item)
{
    wire(row, false);
    // Detaching schedules the row's deletion; deleting it now takes that
    // back, so the row is gone at once.
    ui->listWidget->removeItemWidget(item);
    delete row;
    delete ui->listWidget->takeItem(ui->listWidget->row(item));
}

void ConnectionOverviewDialog::wire(OverviewWidget *row, bool on)
{
    if (!on) {
        disconnect(row, nullptr, this, nullptr);
        return;
    }
    connect(row, &OverviewWidget::display, this, &ConnectionOverviewDialog::displayConnection);
    connect(row, &OverviewWidget::displayCommonDetector, this, &ConnectionOverviewDialog::displayCommonDetector);
    connect(row, &OverviewWidget::newColor, this, &ConnectionOverviewDialog::changeColor);
    connect(row, &OverviewWidget::updateStage, this, &ConnectionOverviewDialog::changeStage);
    connect(row, &OverviewWidget::openParams, this, &ConnectionOverviewDialog::openParamDialog);
    connect(row, &OverviewWidget::multiplexingUpdate, this, &ConnectionOverviewDialog::multiplexDetectors);
    connect(row, &OverviewWidget::newGroup, this, &ConnectionOverviewDialog::newGroupId);
}

void ConnectionOverviewDialog::changeOrder(int oldIndex, int newIndex)
{
    if (oldIndex == newIndex || oldIndex < 0 || newIndex < 0
        || oldIndex >= places.size() || newIndex >= places.size())
        return;
    // The row at place oldIndex is now at newIndex; the rows between close up.
    for (int &place : places) {
        if (place == oldIndex)
            place = newIndex;
        else if (oldIndex < newIndex && place > oldIndex && place <= newIndex)
            --place;
        else if (newIndex < oldIndex && place >= newIndex && place < oldIndex)
            ++place;
    }
}

void ConnectionOverviewDialog::setDisplayConnection(QString, bool)
{
}

void ConnectionOverviewDialog::setDisplayCommonDetector(QString, bool)
{
}

void ConnectionOverviewDialog::on_closePushButton_clicked()
{
    close();
}
