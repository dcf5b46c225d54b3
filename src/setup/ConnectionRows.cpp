#include "setup/ConnectionRows.h"

#include "setup/ConnectionWidget.h"

#include <QListWidget>
#include <QListWidgetItem>

#include <algorithm>

ConnectionRows::ConnectionRows(QListWidget *serialList_, QListWidget *tcpList_)
    : serialList(serialList_), tcpList(tcpList_)
{
}

ConnectionWidget *ConnectionRows::add(bool tcp, const QString &controllerId, const QString &label,
                                      const QString &address, bool autoConnect)
{
    QListWidget *list = tcp ? tcpList : serialList;
    auto *row = new ConnectionWidget(controllerId, label, address);
    auto *item = new QListWidgetItem(list);
    item->setSizeHint(row->sizeHint());
    list->setItemWidget(item, row);
    row->setAutoConnect(autoConnect);
    row->setEnabled(!isBusy(address));
    (tcp ? tcpRows : serialRows).append(row);
    (tcp ? tcpItems : serialItems).append(item);
    return row;
}

void ConnectionRows::remove(bool tcp, int index)
{
    ConnectionWidget *row = (tcp ? tcpRows : serialRows).takeAt(index);
    QListWidgetItem *item = (tcp ? tcpItems : serialItems).takeAt(index);
    row->disconnect();
    QListWidget *list = tcp ? tcpList : serialList;
    list->removeItemWidget(item);
    delete item;
    row->hide();
    row->deleteLater();
}

bool ConnectionRows::removeAddress(const QString &address)
{
    for (bool tcp : {false, true}) {
        const QList<ConnectionWidget *> &list = rows(tcp);
        for (int i = 0; i < list.size(); ++i) {
            if (list.at(i)->address() == address) {
                remove(tcp, i);
                return true;
            }
        }
    }
    return false;
}

ConnectionWidget *ConnectionRows::withAddress(const QString &address) const
{
    for (ConnectionWidget *row : all()) {
        if (row->address() == address)
            return row;
    }
    return nullptr;
}

bool ConnectionRows::hasId(const QString &controllerId, bool serial, bool tcp) const
{
    const auto has = [&controllerId](const QList<ConnectionWidget *> &list) {
        return std::any_of(list.begin(), list.end(),
                           [&controllerId](const ConnectionWidget *row) { return row->controllerId() == controllerId; });
    };
    return (serial && has(serialRows)) || (tcp && has(tcpRows));
}

void ConnectionRows::setBusy(const QString &address, bool busy)
{
    if (busy)
        busyAddresses.insert(address);
    else
        busyAddresses.remove(address);
    for (ConnectionWidget *row : all()) {
        if (row->address() == address)
            row->setEnabled(!busy);
    }
}
