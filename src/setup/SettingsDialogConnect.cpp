// The connect of one serial or TCP/IP controller from the dialog's fields:
// checks, the baud-rate change of a serial controller, opening and
// identifying the link on the controller's worker, and the hand-over.

#include "setup/SettingsDialog.h"

#include "controller/Controller.h"
#include "link/SerialPort.h"
#include "link/TcpClient.h"
#include "setup/ConnectionHost.h"
#include "setup/ConnectionWidget.h"
#include "setup/PendingController.h"

#include "ui_settingsdialog.h"

#include <QDebug>
#include <QHostAddress>

// ------------------------------------------------------------ serial connect

void SettingsDialog::on_connectSerialButton_clicked()
{
    if (!isBusy())
        connectSerial();
}

void SettingsDialog::connectSerial()
{
    qDebug().noquote() << "Trying to connect (serial)";
    const QString label = ui->serialPortLabel_2->text();
    if (label.isEmpty()) {
        ui->infoLabel->setText(QStringLiteral("Please insert a label"));
        markInvalid(ui->serialPortLabel_2, true);
        return;
    }
    if (ui->serialPortInfoListBox->count() == 0) {
        ui->infoLabel->setText(QStringLiteral("No device available"));
        return;
    }
    ui->infoLabel->clear();
    markInvalid(ui->serialPortLabel_2, false);
    resizeSmall();

    const QString selectedId = ui->serialPortInfoListBox->currentText();
    if (rows->hasId(selectedId, true, false)) {
        ui->infoLabel->setText(QStringLiteral("Connection already created"));
        return;
    }
    const int entry = discoveredIndex(selectedId);
    if (entry < 0) {
        ui->infoLabel->setText(QStringLiteral("Device not found"));
        return;
    }
    const QString portName = m_discovered.at(entry).value(1);
    baudRate = m_discovered.at(entry).value(2).toInt();
    const int selectedBaud = ui->baudrateComboBox->currentText().toInt();
    if (baudRate != selectedBaud)
        adjustBaudRate(selectedId, portName, selectedBaud, label);
    else
        openSerial(selectedId, portName, label);
}

// A temporary link at the controller's current rate tells it the new one;
// the connect proceeds at the new rate once the controller has accepted.
void SettingsDialog::adjustBaudRate(const QString &controllerId, const QString &portName, int newBaud,
                                    const QString &label)
{
    auto temporary = std::make_unique<SerialPort>();
    if (!temporary->initialize(portName, baudRate)) {
        temporary.release()->dispose();
        ui->infoLabel->setText(QStringLiteral("SerialPort is not suitable for communication"));
        return;
    }
    ui->infoLabel->setText(QStringLiteral("Adjusting baudrate..."));
    PendingController *pending = beginConnect(std::move(temporary), false);
    connect(pending, &PendingController::baudRateChanged, this, [=](bool accepted) {
        endConnect(); // the sequence has ended the temporary link already
        if (!accepted) {
            ui->infoLabel->setText(QStringLiteral("Baudrate couldn't be adjusted"));
            return;
        }
        baudRate = newBaud;
        const int entry = discoveredIndex(controllerId);
        if (entry >= 0)
            m_discovered[entry][2] = QString::number(newBaud);
        openSerial(controllerId, portName, label);
    });
    pending->changeBaudRate(newBaud, m_waits.serialMs);
}

void SettingsDialog::openSerial(const QString &controllerId, const QString &portName, const QString &label)
{
    auto link = std::make_unique<SerialPort>();
    if (!link->initialize(portName, baudRate)) {
        qWarning().noquote() << "Serial port is not suitable for communication:" << portName;
        ui->infoLabel->setText(QStringLiteral("Serial port is not suitable for communication"));
        link.release()->dispose();
        return;
    }
    qDebug().noquote() << "Connecting";
    startConnect(std::move(link), false, label, controllerId, m_waits.serialMs);
}

// ------------------------------------------------------------ TCP/IP connect

void SettingsDialog::on_connectTcpButton_clicked()
{
    if (!isBusy())
        connectTcp();
}

void SettingsDialog::connectTcp()
{
    const QString label = ui->labelTcpEdit->text();
    const QString address = ui->addressTcpEdit->text().trimmed();
    if (label.isEmpty()) {
        markInvalid(ui->labelTcpEdit, true);
        return;
    }
    if (address.isEmpty()) {
        markInvalid(ui->addressTcpEdit, true);
        return;
    }
    const QHostAddress parsed(address);
    for (ConnectionWidget *row : rows->rows(true)) {
        if (row->address() == address || (!parsed.isNull() && row->address() == parsed.toString())) {
            markInvalid(ui->addressTcpEdit, true);
            ui->infoLabel2->setText(QStringLiteral("Connection already exists."));
            return;
        }
    }
    const QString portText = ui->portLineEdit->text();
    if (!portText.isEmpty()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1) {
            ui->infoLabel2->setText(QStringLiteral("Port needs to be a positive natural number"));
            markInvalid(ui->portLineEdit, true);
            return;
        }
        tcpPort = port;
    }
    ui->infoLabel2->clear();
    for (QLineEdit *edit : {ui->addressTcpEdit, ui->labelTcpEdit, ui->portLineEdit})
        markInvalid(edit, false);
    resizeSmall();

    auto link = std::make_unique<TcpClient>();
    if (!link->initialize(address, tcpPort)) {
        link.release()->dispose();
        markInvalid(ui->addressTcpEdit, true);
        ui->infoLabel2->setText(QStringLiteral("Please check the connection parameters"));
        return;
    }
    startConnect(std::move(link), true, label, QString(), m_waits.tcpMs);
}

// ------------------------------------------------------------ connect, both kinds

PendingController *SettingsDialog::beginConnect(std::unique_ptr<Connection> link, bool tcp)
{
    m_pending = new PendingController(std::move(link), this);
    m_pendingTcp = tcp;
    setWork(Work::Connecting);
    return m_pending;
}

// Ends the connect under way; a controller not taken over is released
// without waiting for its link.
void SettingsDialog::endConnect()
{
    if (m_pending) {
        m_pending->disconnect(this);
        m_pending->cancel();
        m_pending->deleteLater(); // it may be the sender of the signal being handled
        m_pending = nullptr;
    }
    setWork(Work::None);
}

void SettingsDialog::cancelConnect()
{
    if (!m_pending)
        return;
    qInfo().noquote() << "Connecting cancelled";
    (m_pendingTcp ? ui->infoLabel2 : ui->infoLabel)->setText(QStringLiteral("Connecting cancelled"));
    endConnect();
}

void SettingsDialog::startConnect(std::unique_ptr<Connection> link, bool tcp, const QString &label,
                                  const QString &discoveredId, int waitMs)
{
    (tcp ? ui->infoLabel2 : ui->infoLabel)->setText(QStringLiteral("Connecting... %1").arg(link->address()));
    PendingController *pending = beginConnect(std::move(link), tcp);
    connect(pending, &PendingController::opened, this, [=](const LinkSequences::Opening &opening) {
        connectOpened(opening, tcp, label, discoveredId, waitMs);
    });
    pending->openAndIdentify(waitMs);
}

void SettingsDialog::connectOpened(const LinkSequences::Opening &opening, bool tcp, const QString &label,
                                   const QString &discoveredId, int waitMs)
{
    QLabel *info = tcp ? ui->infoLabel2 : ui->infoLabel;
    if (!opening.connected) {
        const Connection &link = m_pending->controller()->link();
        qDebug().noquote() << "Link state of" << link.address() << "after" << waitMs << "ms:" << link.linkState();
        qWarning().noquote() << "Connection could not be established";
        info->setText(tcp ? QStringLiteral("Connection couldn't be established")
                          : QStringLiteral("Connection could not be established"));
        endConnect();
        return;
    }
    if (!opening.identity.valid) {
        qWarning().noquote() << "System identification failed";
        info->setText(QStringLiteral("System identification failed"));
        endConnect();
        return;
    }
    qDebug().noquote() << "Connected";
    Controller *controller = m_pending->take();
    endConnect();
    const QString address = controller->address();
    m_records.append(newRecord(tcp ? Tcp : Serial, address, opening.identity.controllerId, label,
                               controller->link().parameter()));
    addRow(tcp, opening.identity.controllerId, label, address, true)->setConnected(true);
    if (tcp) {
        ui->addressTcpEdit->clear();
        ui->labelTcpEdit->clear();
    } else {
        ui->serialPortInfoListBox->removeItem(ui->serialPortInfoListBox->findText(discoveredId));
        ui->serialPortLabel_2->clear();
    }
    controller->link().setLabel(label);
    handOver(controller, m_records.size() - 1);
    info->setText(QStringLiteral("Connected"));
}

ConnectionSettings SettingsDialog::newRecord(int type, const QString &address, const QString &controllerId,
                                             const QString &label, int portOrBaud) const
{
    ConnectionSettings record;
    record.type = type;
    record.name = address;
    record.id = controllerId;
    record.label = label;
    record.portOrBaud = portOrBaud;
    record.autoConnect = true;
    // No colours: the window gives a new controller a colour family of its
    // own, and they are stored with the setup from then on.
    return record;
}

// A controller known from earlier runs gets back its detector settings from
// the default setup file; the label goes out as the controller's first
// request after its identification, then the host takes it over.
void SettingsDialog::handOver(Controller *controller, int recordIndex)
{
    ConnectionSettings &record = m_records[recordIndex];
    settings.loadFile(QString());
    settings.restoreDetectorSettings(record);
    controller->link().setTriggerMode(record.pulsedLaser);
    controller->sendLabel(controller->link().label());
    host->newConnection(controller, &record);
}

