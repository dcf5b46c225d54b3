#pragma once

#include <QList>
#include <QSet>
#include <QString>

class ConnectionWidget;
class QListWidget;
class QListWidgetItem;

// The rows of the connection dialog's two lists, one ConnectionWidget per
// controller link, each carried by an item of the serial or the TCP/IP list.
// A row is named by its address. While a request for a row's controller is
// outstanding the row is busy: its controls are off, so the user cannot ask
// for a second one.
class ConnectionRows
{
public:
    ConnectionRows(QListWidget *serialList, QListWidget *tcpList);

    ConnectionWidget *add(bool tcp, const QString &controllerId, const QString &label, const QString &address,
                          bool autoConnect);
    // Takes the row out of its list. The row may be the sender of the signal
    // being handled (its delete button), so it is deleted once control is
    // back in the event loop.
    void remove(bool tcp, int index);
    // Removes the serial row with that address or, when there is none, the
    // TCP/IP one; false when neither exists.
    bool removeAddress(const QString &address);

    const QList<ConnectionWidget *> &rows(bool tcp) const { return tcp ? tcpRows : serialRows; }
    QList<ConnectionWidget *> all() const { return serialRows + tcpRows; }
    ConnectionWidget *withAddress(const QString &address) const;
    bool hasId(const QString &controllerId, bool serial, bool tcp) const;

    void setBusy(const QString &address, bool busy);
    bool isBusy(const QString &address) const { return busyAddresses.contains(address); }

private:
    QListWidget *serialList;
    QListWidget *tcpList;
    QList<ConnectionWidget *> serialRows;
    QList<QListWidgetItem *> serialItems;
    QList<ConnectionWidget *> tcpRows;
    QList<QListWidgetItem *> tcpItems;
    QSet<QString> busyAddresses;
};
