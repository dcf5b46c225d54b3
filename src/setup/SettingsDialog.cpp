#include "setup/SettingsDialog.h"

#include "app/StartupFlags.h"
#include "controller/Controller.h"
#include "controller/FutureCallback.h"
#include "link/SerialDiscovery.h"
#include "link/SerialPort.h"
#include "link/TcpClient.h"
#include "setup/ConnectionHost.h"
#include "setup/ConnectionWidget.h"
#include "setup/PendingController.h"
#include "controller/OpeningSequences.h"

#include "ui_settingsdialog.h"

#include <QApplication>
#include <QDebug>
#include <QFileDialog>
#include <QPointer>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const int maximumDialogWidth = 675;
const int maximumLabelLength = 25;
const QString invalidStyle = QStringLiteral("border: 1px solid red");

QValidator *labelValidator(QObject *parent)
{
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9_]+")), parent);
}

} // namespace

SettingsDialog::SettingsDialog(ConnectionHost *host_, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SettingsDialog>()), host(host_)
{
    qDebug().noquote() << "Constructing SettingsDialog";
    ui->setupUi(this);
    rows = std::make_unique<ConnectionRows>(ui->listWidgetSerial, ui->listWidgetTcp);
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
    connect(ui->cancelConnectButton, &QPushButton::clicked, this, &SettingsDialog::cancelConnect);
    ui->cancelConnectButton->hide();

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
    // wiring must not outlive this object. A connect under way is given up.
    for (ConnectionWidget *row : rows->all())
        row->disconnect(this);
    if (m_pending) {
        m_pending->disconnect(this);
        delete m_pending;
    }
}

// ------------------------------------------------------------ busy state

void SettingsDialog::setWork(Work work)
{
    m_work = work;
    const bool idle = work == Work::None;
    for (QPushButton *button :
         {ui->connectSerialButton, ui->connectTcpButton, ui->rescanButton, ui->loadConnectionButton})
        button->setEnabled(idle);
    ui->cancelConnectButton->setVisible(work == Work::Connecting);
}

// ------------------------------------------------------------ discovery

void SettingsDialog::fillPortsInfo()
{
    if (!isBusy())
        scan({});
}

// The search opens serial ports and waits for their answers, so it runs on
// a pool thread; the lists change only when its result is back.
void SettingsDialog::scan(std::function<void()> then)
{
    setWork(Work::Scanning);
    ui->serialPortInfoListBox->clear();
    m_discovered.clear();
    ui->infoLabel->setText(QStringLiteral("Scanning..."));
    const bool otherDevices = otherSerialDevices;
    auto search = QtConcurrent::run([otherDevices] { return searchSerialControllers(false, otherDevices); });
    whenReady(search, this, [this, then = std::move(then)](const QList<QStringList> &found) {
        m_discovered = found;
        for (const QStringList &entry : qAsConst(m_discovered)) {
            if (!rows->hasId(entry.value(0), true, false))
                ui->serialPortInfoListBox->addItem(entry.value(0));
        }
        ui->infoLabel->clear();
        setWork(Work::None);
        if (then)
            then();
    });
}

int SettingsDialog::discoveredIndex(const QString &controllerId) const
{
    for (int i = 0; i < m_discovered.size(); ++i) {
        if (m_discovered.at(i).value(0) == controllerId)
            return i;
    }
    return -1;
}

// ------------------------------------------------------------ rows

ConnectionWidget *SettingsDialog::addRow(bool tcp, const QString &controllerId, const QString &label,
                                         const QString &address, bool autoConnect)
{
    ConnectionWidget *row = rows->add(tcp, controllerId, label, address, autoConnect);
    connect(row, &ConnectionWidget::labelChanged, this, &SettingsDialog::newLabel);
    connect(row, &ConnectionWidget::reconnectRequested, this, &SettingsDialog::reconnectRow);
    connect(row, &ConnectionWidget::disconnectRequested, this, &SettingsDialog::disconnectRow);
    connect(row, &ConnectionWidget::deleteConnection, this, &SettingsDialog::deleteConnectionSlot);
    connect(row, &ConnectionWidget::autoConnectChanged, this,
            [this, row](bool isActive) { autoConnectChanged(row->address(), isActive); });
    return row;
}

void SettingsDialog::autoConnectChanged(QString address, bool isActive)
{
    for (ConnectionSettings &record : m_records) {
        if (record.name == address)
            record.autoConnect = isActive;
    }
}

// The host answers row requests through callbacks, possibly later; the row
// stays busy until then, and an answer that comes after the dialog is gone
// is dropped.
void SettingsDialog::markController(const QString &address, const QString &text)
{
    for (bool tcp : {false, true})
        for (ConnectionWidget *row : rows->rows(tcp))
            if (row->address() == address)
                row->setAlert(text);
}

void SettingsDialog::reconnectRow(QString address)
{
    if (rows->isBusy(address))
        return;
    rows->setBusy(address, true);
    QPointer<SettingsDialog> self(this);
    host->reconnectConnection(address, [self, address](bool ok, QString boardID) {
        if (!self)
            return;
        self->rows->setBusy(address, false);
        if (!ok) {
            self->showBoth(QStringLiteral("Could not establish connection."),
                           QStringLiteral("Could not establish connection."));
            return;
        }
        self->showBoth(QString(), QString());
        bool matched = false;
        for (ConnectionWidget *row : self->rows->all()) {
            if (row->address() == address && row->controllerId() == boardID) {
                row->setConnected(true);
                matched = true;
            }
        }
        if (!matched) {
            self->rows->setBusy(address, true);
            self->host->disconnectConnection(address, [self, address](bool) {
                if (self)
                    self->rows->setBusy(address, false);
            });
            const QString text = QStringLiteral("Could not establish connection. Controller ID mismatch.");
            self->showBoth(text, text);
        }
    });
}

void SettingsDialog::disconnectRow(QString address)
{
    if (rows->isBusy(address))
        return;
    rows->setBusy(address, true);
    QPointer<SettingsDialog> self(this);
    host->disconnectConnection(address, [self, address](bool gone) {
        if (!self)
            return;
        self->rows->setBusy(address, false);
        if (!gone) {
            self->showBoth(QStringLiteral("Could not disconnect."), QStringLiteral("Could not disconnect."));
            return;
        }
        self->showBoth(QString(), QString());
        for (ConnectionWidget *row : self->rows->all()) {
            if (row->address() == address)
                row->setConnected(false);
        }
    });
}

void SettingsDialog::deleteConnectionSlot(QString address)
{
    if (rows->isBusy(address))
        return;
    rows->setBusy(address, true);
    QPointer<SettingsDialog> self(this);
    host->closedConnection(address, [self, address](bool closed) {
        if (!self)
            return;
        self->rows->setBusy(address, false);
        if (!closed)
            return;
        for (int i = 0; i < self->m_records.size(); ++i) {
            if (self->m_records.at(i).name == address) {
                self->m_records.removeAt(i);
                break;
            }
        }
        self->rows->removeAddress(address);
    });
}

void SettingsDialog::removeAllConnections()
{
    // A connect under way is given up, and identifications of a load still
    // running no longer count: their controllers are being closed.
    if (m_pending)
        endConnect();
    if (m_work == Work::Loading)
        setWork(Work::None);
    ++m_loadGeneration;
    m_loadsOutstanding = 0;
    m_records.clear();
    for (bool tcp : {false, true}) {
        const QList<ConnectionWidget *> &list = rows->rows(tcp);
        for (int i = list.size() - 1; i >= 0; --i) {
            const QString address = list.at(i)->address();
            rows->remove(tcp, i);
            rows->setBusy(address, false);
            host->closedConnection(address, [](bool) {});
        }
    }
}

// ------------------------------------------------------------ loading

void SettingsDialog::loadConnection(QString path)
{
    if (isBusy())
        return;
    qDebug().noquote() << "Loading connections";
    // Serial controllers are found by their ID, so the search comes first.
    if (autoSearch)
        scan([this, path] { loadRecords(path); });
    else
        loadRecords(path);
}

// Every stored controller is handed over at once, in the order of the
// records (the host keeps that order); the auto-connect ones then connect
// and identify side by side, each on its own worker, and are reported ready
// one by one as they finish.
void SettingsDialog::loadRecords(const QString &path)
{
    setWork(Work::Loading);
    QList<ConnectionSettings> loaded;
    const bool ok = settings.loadFile(path) && settings.connections(loaded) && !loaded.isEmpty();
    QList<std::pair<Controller *, ConnectionSettings>> toIdentify;
    for (ConnectionSettings record : qAsConst(loaded)) {
        const QString controllerId = record.id;
        if (rows->hasId(controllerId, true, true)) {
            qDebug().noquote() << "Skipping already existing" << controllerId;
            continue;
        }
        settings.restoreDetectorSettings(record);
        const bool tcp = record.type == Tcp;
        const QString label = record.label;
        std::unique_ptr<Connection> link;
        if (tcp) {
            link = std::make_unique<TcpClient>();
            qDebug().noquote() << "Creating TCP connection" << label;
        } else {
            const int entry = discoveredIndex(controllerId);
            if (entry >= 0)
                record.name = m_discovered.at(entry).value(1);
            link = std::make_unique<SerialPort>();
            qDebug().noquote() << "Creating serial connection" << label;
        }
        link->setLabel(label);
        link->setTriggerMode(record.pulsedLaser);
        addRow(tcp, controllerId, label, record.name, record.autoConnect);
        m_records.append(record);
        const bool initialized = link->initialize(record.name, record.portOrBaud);
        auto *controller = new Controller(std::move(link));
        host->newConnection(controller, &m_records.last());
        if (record.autoConnect && initialized)
            toIdentify.append({controller, record});
    }
    for (const auto &[controller, record] : qAsConst(toIdentify))
        identifyLoaded(controller, record);

    if (!path.isEmpty()) {
        if (ok)
            showBoth(QStringLiteral("Loading was successful"), QStringLiteral("Loading successful"));
        else
            showBoth(QStringLiteral("Loading failed"), QStringLiteral("Loading failed"));
    }
    qDebug().noquote() << "Finished loading connections";
    if (m_loadsOutstanding == 0)
        setWork(Work::None);
}

void SettingsDialog::identifyLoaded(Controller *controller, const ConnectionSettings &record)
{
    const QString address = controller->address();
    const QString controllerId = record.id;
    const QString label = record.label;
    const unsigned generation = m_loadGeneration;
    ++m_loadsOutstanding;
    rows->setBusy(address, true);
    QPointer<Controller> alive(controller);
    auto opening = controller->request([waitMs = m_waits.loadMs](Connection &link) {
        return LinkSequences::openAndIdentify(link, waitMs);
    });
    whenReady(opening, this, [=](const LinkSequences::Opening &result) {
        if (generation != m_loadGeneration)
            return;
        rows->setBusy(address, false);
        // The host may have closed the controller meanwhile.
        if (alive && host->controllerAt(address) == alive.data())
            loadedOpened(alive.data(), controllerId, label, result);
        if (--m_loadsOutstanding == 0 && m_work == Work::Loading)
            setWork(Work::None);
    });
}

void SettingsDialog::loadedOpened(Controller *controller, const QString &controllerId, const QString &label,
                                  const LinkSequences::Opening &opening)
{
    if (!opening.connected)
        return; // handed over as it is: its row offers Reconnect
    const QString address = controller->address();
    if (!opening.identity.valid || opening.storedId != controllerId) {
        qWarning().noquote() << "Controller at" << address << "did not identify as" << controllerId;
        controller->disconnectLink();
        return;
    }
    controller->sendLabel(label);
    if (ConnectionWidget *row = rows->withAddress(address); row && controller->isConnected())
        row->setConnected(true);
    host->connectionReady(address, controllerId);
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
    if (isBusy())
        return;
    ui->loadConnectionButton->setEnabled(false);
    const QString path = chosenSetupPath(false);
    ui->loadConnectionButton->setEnabled(true);
    if (!path.isEmpty()) {
        showBoth(QString(), QString());
        removeAllConnections();
        loadConnection(path);
    }
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
