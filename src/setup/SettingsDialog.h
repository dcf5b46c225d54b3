#pragma once

#include "setup/ConnectionRows.h"
#include "setup/ConnectionSettings.h"
#include "setup/Settings.h"

#include <QDialog>
#include <QList>
#include <QStringList>

#include <functional>
#include <memory>

class Connection;
class ConnectionHost;
class ConnectionWidget;
class Controller;
class PendingController;
class QFileDialog;
class QLabel;
class QLineEdit;
namespace LinkSequences {
struct Opening;
}

namespace Ui {
class SettingsDialog;
}

// Where the user creates, identifies, reconnects, disconnects and deletes
// controller links and loads and saves connection setups. A link is made
// here (serial or TCP/IP), identified by its controller ID, given a record
// and handed to the host, which owns it from then on. The dialog keeps the
// records of all its links and one row per link.
//
// Nothing here waits: links are opened, identified and switched on each
// controller's own worker, the serial search runs on a pool thread, and the
// results come back as callbacks. While a scan, a connect or a load runs, the
// controls that would start another one are off; a connect can be cancelled.
// A row whose controller has a request outstanding is busy until it ends.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(ConnectionHost *host, QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // Closes every link through the host and deletes all rows.
    void removeAllConnections();

    // Longest waits for a started link to reach the connected state: serial
    // connect and baud-rate change, TCP/IP connect, and each controller of a
    // loaded setup. A link whose thread ends earlier is given up at once.
    struct ConnectWaits
    {
        int serialMs = 200;
        int tcpMs = 300;
        int loadMs = 300;
    };
    void setConnectWaits(const ConnectWaits &waits) { m_waits = waits; }
    // The waits every dialog made afterwards starts with. Tests on a busy
    // machine raise them: a wait ends as soon as the link is connected, so
    // only a slow start waits longer.
    static void setDefaultConnectWaits(const ConnectWaits &waits);

    const QList<ConnectionSettings> &records() const { return m_records; }
    const QList<QStringList> &discoveredControllers() const { return m_discovered; }
    // A scan, a connect or a load (until its controllers have identified) runs.
    bool isBusy() const { return m_work != Work::None; }

signals:
    void newLabel(QString address, QString label);

public slots:
    void autoConnectChanged(QString address, bool isActive);
    void fillPortsInfo();
    void reconnectRow(QString address);
    void disconnectRow(QString address);
    // Marks the rows of this controller with what happened to it (empty: fine).
    void markController(const QString &address, const QString &text);
    void deleteConnectionSlot(QString address);
    void loadConnection(QString path);
    void resizeSmall();
    void on_connectSerialButton_clicked();
    void on_connectTcpButton_clicked();
    void on_loadConnectionButton_clicked();
    void on_saveConnectionButton_clicked();
    void on_saveAsConnectionButton_clicked();
    void on_tabWidget_currentChanged(int index);
    void on_addressTcpEdit_textChanged(const QString &text);
    void on_labelTcpEdit_textChanged(const QString &text);
    void on_serialPortLabel_2_textChanged(const QString &text);
    void on_portLineEdit_textChanged(const QString &text);
    void on_baudrateComboBox_currentIndexChanged(int index);
    void on_serialPortInfoListBox_currentIndexChanged(int index);

protected:
    void showEvent(QShowEvent *event) override;

private:
    enum class Work { None, Scanning, Connecting, Loading };

    void setWork(Work work);
    void scan(std::function<void()> then);
    void connectSerial();
    void connectTcp();
    void adjustBaudRate(const QString &controllerId, const QString &portName, int newBaud, const QString &label);
    void openSerial(const QString &controllerId, const QString &portName, const QString &label);
    void startConnect(std::unique_ptr<Connection> link, bool tcp, const QString &label, const QString &discoveredId,
                      int waitMs);
    void connectOpened(const LinkSequences::Opening &opening, bool tcp, const QString &label,
                       const QString &discoveredId, int waitMs);
    PendingController *beginConnect(std::unique_ptr<Connection> link, bool tcp);
    void endConnect();
    void cancelConnect();
    void loadRecords(const QString &path);
    void identifyLoaded(Controller *controller, const ConnectionSettings &record);
    void loadedOpened(Controller *controller, const QString &controllerId, const QString &label,
                      const LinkSequences::Opening &opening);
    void saveTo(const QString &path);
    ConnectionWidget *addRow(bool tcp, const QString &controllerId, const QString &label, const QString &address,
                             bool autoConnect);
    int discoveredIndex(const QString &controllerId) const;
    ConnectionSettings newRecord(int type, const QString &address, const QString &controllerId,
                                 const QString &label, int portOrBaud) const;
    void handOver(Controller *controller, int recordIndex);
    void showBoth(const QString &serialText, const QString &tcpText);
    static void markInvalid(QLineEdit *edit, bool invalid);
    QString chosenSetupPath(bool save);

    std::unique_ptr<Ui::SettingsDialog> ui;
    ConnectionHost *host;
    std::unique_ptr<ConnectionRows> rows;
    QList<QStringList> m_discovered;
    Settings settings;
    QList<ConnectionSettings> m_records;
    int baudRate = 115200;
    int tcpPort = 2000;
    QFileDialog *fileDialog = nullptr;
    Work m_work = Work::None;
    PendingController *m_pending = nullptr; // the connect under way, not handed over yet
    bool m_pendingTcp = false;
    int m_loadsOutstanding = 0;             // loaded controllers still identifying
    unsigned m_loadGeneration = 0;          // results of an earlier load are dropped
    static ConnectWaits &defaultWaits();
    ConnectWaits m_waits = defaultWaits();
};
