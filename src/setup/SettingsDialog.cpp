#include "setup/SettingsDialog.h"

#include "controller/Controller.h"

#include "app/StartupFlags.h"
#include "link/SerialDiscovery.h"
#include "link/SerialPort.h"
#include "link/TcpClient.h"
#include "setup/ConnectionHost.h"
#include "setup/ConnectionWidget.h"
#include "setup/LinkOpening.h"

#include "ui_settingsdialog.h"

#include <QApplication>
#include <QDebug>
#include <QFileDialog>
#include <QHostAddress>
#include <QListWidgetItem>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShowEvent>
#include <QThread>
#include <QTimer>

namespace {

const int maximumDialogWidth = 675;
const int maximumLabelLength = 25;
const QString invalidStyle = QStringLiteral("border: 1px solid red");

QValidator *labelValidator(QObject *parent)
{
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9_]+")), parent);
}

} // namespace

// Marks the dialog busy for the lifetime of the scope, so a click that
// arrives while a scan, connect or load waits is ignored.
class SettingsDialog::BusyScope
{
public:
    explicit BusyScope(bool &flag) : flag(flag) { flag = true; }
    ~BusyScope() { flag = false; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    bool &flag;
};

SettingsDialog::SettingsDialog(ConnectionHost *host_, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SettingsDialog>()), host(host_)
{
    qDebug().noquote() << "Constructing SettingsDialog";
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);

    for (QLineEdit *edit : {ui->serialPortLabel_2, ui->labelTcpEdit}) {
        edit->setValidator(labelValidator(edit));
        edit->setMaxLength(maximumLabelLength);
    }
    connect(ui->serialPortLabel_2, &QLineEdit::returnPressed, ui->connectSerialButton, &QPushButton::click);
    for (QLineEdit *edit : {ui->addressTcpEdit, ui->portLineEdit, ui->labelTcpEdit})
        connect(edit, &QLineEdit::returnPressed, ui->connectTcpButton, &QPushButton::click);
    connect(ui->rescanButton, &QPushButton::clicked, this, &SettingsDialog::fillPortsInfo);
    connect(ui->closeButton, &QPushButton::clicked, this, &SettingsDialog::close);

    fileDialog = new QFileDialog(this);
    fileDialog->setNameFilter(QStringLiteral("*.xml"));
    fileDialog->setDirectory(QDir::rootPath());

    ui->tabWidget->setCurrentIndex(0);
    ui->infoLabel->hide();
    ui->infoLabel2->hide();
    resizeSmall();
    qDebug().noquote() << "Finished constructing SettingsDialog";
}

SettingsDialog::ConnectWaits &SettingsDialog::defaultWaits()
{
    static ConnectWaits waits;
    return waits;
}

void SettingsDialog::setDefaultConnectWaits(const ConnectWaits &waits)
{
    defaultWaits() = waits;
}

SettingsDialog::~SettingsDialog()
{
    // Rows and items belong to the list widgets and go with them; the
    // wiring must not outlive this object.
    for (ConnectionWidget *row : serialRows + tcpRows)
        row->disconnect(this);
}

// ------------------------------------------------------------ discovery

void SettingsDialog::fillPortsInfo()
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
    refreshDiscovered();
}

void SettingsDialog::refreshDiscovered()
{
    ui->serialPortInfoListBox->clear();
    m_discovered.clear();
    ui->infoLabel->setText(QStringLiteral("Scanning..."));
    ui->infoLabel->repaint();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_discovered = searchSerialControllers(false, otherSerialDevices);
    QApplication::restoreOverrideCursor();
    for (const QStringList &entry : qAsConst(m_discovered)) {
        if (!rowWithId(entry.value(0), true, false))
            ui->serialPortInfoListBox->addItem(entry.value(0));
    }
    ui->infoLabel->clear();
}

int SettingsDialog::discoveredIndex(const QString &controllerId) const
{
    for (int i = 0; i < m_discovered.size(); ++i) {
        if (m_discovered.at(i).value(0) == controllerId)
            return i;
    }
    return -1;
}

// ------------------------------------------------------------ serial connect

void SettingsDialog::on_connectSerialButton_clicked()
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
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
    if (rowWithId(selectedId, true, false)) {
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
    if (baudRate != selectedBaud) {
        const LinkOpening::BaudAdjustment adjustment =
            LinkOpening::adjustBaudRate(portName, baudRate, selectedBaud, m_waits.serialMs, [this] {
                ui->infoLabel->setText(QStringLiteral("Adjusting baudrate..."));
                ui->infoLabel->repaint();
            });
        if (adjustment == LinkOpening::BaudAdjustment::PortNotSuitable) {
            ui->infoLabel->setText(QStringLiteral("SerialPort is not suitable for communication"));
            return;
        }
        if (adjustment == LinkOpening::BaudAdjustment::Failed) {
            ui->infoLabel->setText(QStringLiteral("Baudrate couldn't be adjusted"));
            return;
        }
        baudRate = selectedBaud;
        m_discovered[entry][2] = QString::number(selectedBaud);
    }

    auto *link = new SerialPort;
    if (!link->initialize(portName, baudRate)) {
        qWarning().noquote() << "Serial port is not suitable for communication:" << portName;
        ui->infoLabel->setText(QStringLiteral("Serial port is not suitable for communication"));
        link->dispose();
        return;
    }
    qDebug().noquote() << "Connecting";
    link->start(QThread::InheritPriority);
    if (!LinkOpening::waitForConnected(*link, m_waits.serialMs)) {
        qDebug().noquote() << "Link state of" << link->address() << "after" << m_waits.serialMs << "ms:"
                           << link->linkState();
        qWarning().noquote() << "Connection could not be established";
        ui->infoLabel->setText(QStringLiteral("Connection could not be established"));
        LinkOpening::release(link, true);
        return;
    }
    QString controllerId;
    if (!LinkOpening::identify(*link, LinkOpening::IdText::Connect, controllerId)) {
        qWarning().noquote() << "System identification failed";
        ui->infoLabel->setText(QStringLiteral("System identification failed"));
        LinkOpening::release(link, true);
        return;
    }
    qDebug().noquote() << "Connected";
    LinkOpening::sendLabel(*link, label);

    m_records.append(newRecord(Serial, link->address(), controllerId, link->label(), link->parameter()));
    addRow(false, controllerId, link->label(), link->address(), true)->setConnected(true);
    ui->serialPortInfoListBox->removeItem(ui->serialPortInfoListBox->currentIndex());
    ui->serialPortLabel_2->clear();
    handOver(link, m_records.size() - 1);
    ui->infoLabel->setText(QStringLiteral("Connected"));
}

// ------------------------------------------------------------ TCP/IP connect

void SettingsDialog::on_connectTcpButton_clicked()
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
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
    for (ConnectionWidget *row : qAsConst(tcpRows)) {
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

    auto *link = new TcpClient;
    if (!link->initialize(address, tcpPort)) {
        link->dispose();
        markInvalid(ui->addressTcpEdit, true);
        ui->infoLabel2->setText(QStringLiteral("Please check the connection parameters"));
        return;
    }
    link->start(QThread::InheritPriority);
    // Waits until connected, for at most the TCP/IP wait, rather than
    // always sleeping that long.
    QCoreApplication::processEvents();
    LinkOpening::waitForConnected(*link, m_waits.tcpMs);
    QCoreApplication::processEvents();
    if (link->linkState() != Connection::Connected) {
        qWarning().noquote() << "Connection could not be established";
        LinkOpening::release(link, true);
        ui->infoLabel2->setText(QStringLiteral("Connection couldn't be established"));
        return;
    }
    QString controllerId;
    if (!LinkOpening::identify(*link, LinkOpening::IdText::Connect, controllerId)) {
        qWarning().noquote() << "System identification failed";
        LinkOpening::release(link, true);
        ui->infoLabel2->setText(QStringLiteral("System identification failed"));
        return;
    }
    qDebug().noquote() << "Connected";
    LinkOpening::sendLabel(*link, label);

    m_records.append(newRecord(Tcp, link->address(), controllerId, link->label(), link->parameter()));
    addRow(true, controllerId, link->label(), link->address(), true)->setConnected(true);
    ui->addressTcpEdit->clear();
    ui->labelTcpEdit->clear();
    handOver(link, m_records.size() - 1);
    ui->infoLabel2->setText(QStringLiteral("Connected"));
}

ConnectionSettings SettingsDialog::newRecord(int type, const QString &address, const QString &controllerId,
                                             const QString &label, int portOrBaud) const
{
    ConnectionSettings record;
    record.type = type;
    setFixedText(record.name, address);
    setFixedText(record.id, controllerId);
    setFixedText(record.label, label);
    record.portOrBaud = portOrBaud;
    record.autoConnect = true;
    // No colours: the window gives a new controller a colour family of its
    // own, and they are stored with the setup from then on.
    return record;
}

// A controller known from earlier runs gets back its detector settings from
// the default setup file before the host takes the link over.
void SettingsDialog::handOver(Connection *link, int recordIndex)
{
    ConnectionSettings &record = m_records[recordIndex];
    settings.loadFile(QString());
    settings.restoreDetectorSettings(record);
    link->setTriggerMode(record.pulsedLaser);
    host->newConnection(new Controller(std::unique_ptr<Connection>(link)), &record);
}

// ------------------------------------------------------------ rows

ConnectionWidget *SettingsDialog::addRow(bool tcp, const QString &controllerId, const QString &label,
                                         const QString &address, bool autoConnect)
{
    QListWidget *list = tcp ? ui->listWidgetTcp : ui->listWidgetSerial;
    auto *row = new ConnectionWidget(controllerId, label, address);
    auto *item = new QListWidgetItem(list);
    item->setSizeHint(row->sizeHint());
    list->setItemWidget(item, row);
    row->setAutoConnect(autoConnect);

    connect(row, &ConnectionWidget::labelChanged, this, &SettingsDialog::newLabel);
    connect(row, &ConnectionWidget::reconnectC, this, &SettingsDialog::on_WidgetReconnect);
    connect(row, &ConnectionWidget::disconnectC, this, &SettingsDialog::on_WidgetDisconnect);
    connect(row, &ConnectionWidget::deleteConnection, this, &SettingsDialog::deleteConnectionSlot);
    connect(row, &ConnectionWidget::autoConnectChanged, this,
            [this, row](bool isActive) { autoConnectChanged(row->address(), isActive); });

    (tcp ? tcpRows : serialRows).append(row);
    (tcp ? tcpItems : serialItems).append(item);
    return row;
}

// The row may be the sender of the signal being handled (its delete
// button), so it is deleted once control is back in the event loop.
void SettingsDialog::removeRow(bool tcp, int index)
{
    ConnectionWidget *row = (tcp ? tcpRows : serialRows).takeAt(index);
    QListWidgetItem *item = (tcp ? tcpItems : serialItems).takeAt(index);
    row->disconnect(this);
    disconnect(row, nullptr, this, nullptr);
    QListWidget *list = tcp ? ui->listWidgetTcp : ui->listWidgetSerial;
    list->removeItemWidget(item);
    delete item;
    row->hide();
    row->deleteLater();
}

bool SettingsDialog::rowWithId(const QString &controllerId, bool serial, bool tcp) const
{
    const auto has = [&controllerId](const QList<ConnectionWidget *> &rows) {
        return std::any_of(rows.begin(), rows.end(),
                           [&controllerId](const ConnectionWidget *row) { return row->controllerId() == controllerId; });
    };
    return (serial && has(serialRows)) || (tcp && has(tcpRows));
}

void SettingsDialog::autoConnectChanged(QString address, bool isActive)
{
    for (ConnectionSettings &record : m_records) {
        if (fixedText(record.name) == address)
            record.autoConnect = isActive;
    }
}

void SettingsDialog::on_WidgetReconnect(QString address)
{
    if (m_busy)
        return;
    m_busy = true;
    host->reconnectConnection(address, [this, address](bool ok, QString boardID) {
        m_busy = false;
        if (!ok) {
            showBoth(QStringLiteral("Could not establish connection."), QStringLiteral("Could not establish connection."));
            return;
        }
        showBoth(QString(), QString());
        bool matched = false;
        for (ConnectionWidget *row : serialRows + tcpRows) {
            if (row->address() == address && row->controllerId() == boardID) {
                row->setConnected(true);
                matched = true;
            }
        }
        if (!matched) {
            host->disconnectConnection(address, [](bool) {});
            const QString text = QStringLiteral("Could not establish connection. Controller ID mismatch.");
            showBoth(text, text);
        }
    });
}

void SettingsDialog::markController(const QString &address, const QString &text)
{
    for (ConnectionWidget *row : serialRows + tcpRows)
        if (row->address() == address)
            row->setAlert(text);
}

void SettingsDialog::on_WidgetDisconnect(QString address)
{
    host->disconnectConnection(address, [this, address](bool gone) {
        if (!gone) {
            showBoth(QStringLiteral("Could not disconnect."), QStringLiteral("Could not disconnect."));
            return;
        }
        showBoth(QString(), QString());
        for (ConnectionWidget *row : serialRows + tcpRows) {
            if (row->address() == address)
                row->setConnected(false);
        }
    });
}

void SettingsDialog::deleteConnectionSlot(QString address)
{
    // A load or connect in progress holds on to its rows.
    if (m_busy)
        return;
    host->closedConnection(address, [this, address](bool closed) {
        if (!closed)
            return;
        for (int i = 0; i < m_records.size(); ++i) {
            if (fixedText(m_records.at(i).name) == address) {
                m_records.removeAt(i);
                break;
            }
        }
        for (bool tcp : {false, true}) {
            const QList<ConnectionWidget *> &rows = tcp ? tcpRows : serialRows;
            for (int i = 0; i < rows.size(); ++i) {
                if (rows.at(i)->address() == address) {
                    removeRow(tcp, i);
                    return;
                }
            }
        }
    });
}

void SettingsDialog::removeAllConnections()
{
    m_records.clear();
    for (bool tcp : {false, true}) {
        const QList<ConnectionWidget *> &rows = tcp ? tcpRows : serialRows;
        for (int i = rows.size() - 1; i >= 0; --i) {
            host->closedConnection(rows.at(i)->address(), [](bool) {});
            removeRow(tcp, i);
        }
    }
}

// ------------------------------------------------------------ loading

void SettingsDialog::loadConnection(QString path)
{
    if (m_busy)
        return;
    BusyScope busy(m_busy);
    load(path);
}

void SettingsDialog::load(const QString &path)
{
    qDebug().noquote() << "Loading connections";
    if (autoSearch)
        refreshDiscovered();

    QList<ConnectionSettings> loaded;
    const bool ok = settings.loadFile(path) && settings.connections(loaded) && !loaded.isEmpty();
    for (ConnectionSettings record : qAsConst(loaded)) {
        const QString controllerId = fixedText(record.id);
        if (rowWithId(controllerId, true, true)) {
            qDebug().noquote() << "Skipping already existing" << controllerId;
            continue;
        }
        settings.restoreDetectorSettings(record);
        const bool tcp = record.type == Tcp;
        const QString label = fixedText(record.label);
        Connection *link = nullptr;
        if (tcp) {
            link = new TcpClient;
            qDebug().noquote() << "Creating TCP connection" << label;
        } else {
            const int entry = discoveredIndex(controllerId);
            if (entry >= 0)
                setFixedText(record.name, m_discovered.at(entry).value(1));
            link = new SerialPort;
            qDebug().noquote() << "Creating serial connection" << label;
        }
        link->setLabel(label);
        link->setTriggerMode(record.pulsedLaser);
        ConnectionWidget *row = addRow(tcp, controllerId, label, fixedText(record.name), record.autoConnect);
        m_records.append(record);
        ConnectionSettings *stored = &m_records.last();

        const bool initialized = link->initialize(fixedText(record.name), record.portOrBaud);
        auto *controller = new Controller(std::unique_ptr<Connection>(link));
        if (!record.autoConnect || !initialized) {
            host->newConnection(controller, stored);
            continue;
        }
        link->start(QThread::InheritPriority);
        if (!LinkOpening::waitForConnected(*link, m_waits.loadMs)) {
            host->newConnection(controller, stored);
            continue;
        }
        QString reportedId;
        if (!LinkOpening::identify(*link, LinkOpening::IdText::Load, reportedId) || reportedId != controllerId) {
            qWarning().noquote() << "Controller at" << link->address() << "did not identify as" << controllerId;
            link->disconnectLink();
            host->newConnection(controller, stored);
            continue;
        }
        LinkOpening::sendLabel(*link, label);
        if (link->linkState() == Connection::Connected)
            row->setConnected(true);
        host->newConnection(controller, stored);
        QCoreApplication::processEvents();
    }

    if (!path.isEmpty()) {
        if (ok)
            showBoth(QStringLiteral("Loading was successful"), QStringLiteral("Loading successful"));
        else
            showBoth(QStringLiteral("Loading failed"), QStringLiteral("Loading failed"));
    }
    qDebug().noquote() << "Finished loading connections";
}

QString SettingsDialog::chosenSetupPath(bool save)
{
    fileDialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    fileDialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    fileDialog->setWindowTitle(save ? QStringLiteral("Save Connection Setup") : QStringLiteral("Load Connection Setup"));
    if (fileDialog->exec() != QDialog::Accepted || fileDialog->selectedFiles().isEmpty())
        return QString();
    QString path = fileDialog->selectedFiles().first();
    if (!path.endsWith(QLatin1String(".xml")))
        path += QLatin1String(".xml");
    return path;
}

void SettingsDialog::on_loadConnectionButton_clicked()
{
    if (m_busy)
        return;
    ui->loadConnectionButton->setEnabled(false);
    const QString path = chosenSetupPath(false);
    if (!path.isEmpty()) {
        showBoth(QString(), QString());
        removeAllConnections();
        loadConnection(path);
    }
    ui->loadConnectionButton->setEnabled(true);
}

// ------------------------------------------------------------ saving

void SettingsDialog::saveTo(const QString &path)
{
    host->updateSettingsAndParameters(m_records);
    // The file lists the controllers in the order the user arranged them.
    settings.setConnections(inSystemOrder(m_records));
    if (settings.saveSetupFile(path))
        showBoth(QStringLiteral("Connection setup saved"), QStringLiteral("Connection setup saved"));
    else
        showBoth(QStringLiteral("Error saving connection setup"), QStringLiteral("Error saving connection setup"));
}

void SettingsDialog::on_saveConnectionButton_clicked()
{
    ui->saveConnectionButton->setEnabled(false);
    saveTo(QString());
    ui->saveConnectionButton->setEnabled(true);
}

void SettingsDialog::on_saveAsConnectionButton_clicked()
{
    ui->saveAsConnectionButton->setEnabled(false);
    const QString path = chosenSetupPath(true);
    if (!path.isEmpty())
        saveTo(path);
    ui->saveAsConnectionButton->setEnabled(true);
}

// ------------------------------------------------------------ small handlers

void SettingsDialog::showBoth(const QString &serialText, const QString &tcpText)
{
    ui->infoLabel->setText(serialText);
    ui->infoLabel2->setText(tcpText);
}

void SettingsDialog::markInvalid(QLineEdit *edit, bool invalid)
{
    edit->setStyleSheet(invalid ? invalidStyle : QString());
}

void SettingsDialog::on_addressTcpEdit_textChanged(const QString &)
{
    markInvalid(ui->addressTcpEdit, false);
    ui->infoLabel2->clear();
}

void SettingsDialog::on_labelTcpEdit_textChanged(const QString &)
{
    markInvalid(ui->labelTcpEdit, false);
    ui->infoLabel2->clear();
}

void SettingsDialog::on_portLineEdit_textChanged(const QString &)
{
    markInvalid(ui->portLineEdit, false);
    ui->infoLabel2->clear();
}

void SettingsDialog::on_serialPortLabel_2_textChanged(const QString &)
{
    markInvalid(ui->serialPortLabel_2, false);
    ui->infoLabel->clear();
}

void SettingsDialog::on_baudrateComboBox_currentIndexChanged(int)
{
    ui->infoLabel->clear();
}

void SettingsDialog::on_serialPortInfoListBox_currentIndexChanged(int)
{
    ui->infoLabel->clear();
}

void SettingsDialog::on_tabWidget_currentChanged(int index)
{
    if (index == 0)
        ui->connectSerialButton->setFocus();
    else if (index == 1)
        ui->connectTcpButton->setFocus();
}

void SettingsDialog::resizeSmall()
{
    ui->tabWidget->show();
    const int current = ui->tabWidget->currentIndex();
    ui->tabWidget->setCurrentIndex(current == 0 ? 1 : 0);
    ui->tabWidget->setCurrentIndex(current);
    QCoreApplication::processEvents();
    ui->infoLabel->clear();
    ui->infoLabel2->clear();
    ui->infoLabel->show();
    ui->infoLabel2->show();
}

void SettingsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    for (QLineEdit *edit : {ui->serialPortLabel_2, ui->addressTcpEdit, ui->labelTcpEdit, ui->portLineEdit}) {
        if (edit->isEnabled())
            edit->clear();
    }
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        resize(maximumDialogWidth, available.height() / 2);
        move(available.center() - rect().center());
    }
    // Every opening searches for controllers; the click waits until the
    // dialog has been painted, so the user sees "Scanning..." meanwhile.
    if (autoSearch)
        QTimer::singleShot(0, ui->rescanButton, &QPushButton::click);
}
