#include "service/ServiceDialog.h"

#include "controller/Controller.h"
#include "controller/FutureCallback.h"
#include "controller/ServiceSequences.h"
#include "link/Connection.h"
#include "link/LinkSpeedTest.h"
#include "link/Protocol.h"
#include "service/ServiceReport.h"
#include "ui_servicedialog.h"

#include <QDebug>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>

namespace {

// Baud rates of the combo box in its order.
constexpr int baudRates[] = {115200, 460800, 921600};

constexpr int quickSetValues[] = {5000, 2500, 100};
constexpr int adjustInValue = -1000; // mV

const QString stageNames[] = {QStringLiteral("Stage 1"), QStringLiteral("Stage 2"), QStringLiteral("Stage 1+2")};

const QString busySuffix = QStringLiteral(" - Busy...");

} // namespace

ServiceDialog::ServiceDialog(QWidget *parent) : QDialog(parent), ui(new Ui::ServiceDialog)
{
    qInfo().noquote() << "Constructing ServiceDialog";
    ui->setupUi(this);
    ui->drive_spinBox->setEnabled(false);
    ui->buttonSSH_3->setEnabled(false);
    ui->buttonCSH_3->setEnabled(false);
    connect(ui->buttonGIN_1, &QPushButton::clicked, this, &ServiceDialog::buttonGIN_clicked);
    // The check box's object name is misspelt in the form; connected by hand
    // so the slot can carry a correct name.
    connect(ui->manalPosition_checkBox, &QCheckBox::clicked, this, &ServiceDialog::manualPositionClicked);
    buildQuickSetGrid();
    // Return must not fire a controller command by accident.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setAutoDefault(false);
    equalizeCommandColumns();
    title = windowTitle();
    // Every button that starts a test; Clear and Close stay usable.
    for (QPushButton *button : findChildren<QPushButton *>())
        if (button != ui->clear_pushButton && button != ui->buttonClose)
            testButtons.append(button);
    qInfo().noquote() << "Finished constructing ServiceDialog";
}

ServiceDialog::~ServiceDialog()
{
    delete ui;
}

void ServiceDialog::buildQuickSetGrid()
{
    QGridLayout *grid = ui->quickSetGrid;
    const QFont rowFont(QStringLiteral("Sans Serif"), 11);
    struct Row
    {
        const char *kind;
        Sender sender;
        const char *caption;
        int stage;
    };
    const Row rows[] = {
        {"p factor", &Connection::setPFactor, "Set P factor stage ", 1},
        {"p factor", &Connection::setPFactor, "Set P factor stage ", 2},
        {"sensitivity", &Connection::setDetectorSensitivity, "Set detector sensitivity stage ", 1},
        {"sensitivity", &Connection::setDetectorSensitivity, "Set detector sensitivity stage ", 2},
    };
    int row = 0;
    for (const Row &r : rows) {
        const QString rowText = QStringLiteral("Set %1 stage %2").arg(QLatin1String(r.kind)).arg(r.stage);
        auto *label = new QLabel(rowText, this);
        label->setFont(rowFont);
        grid->addWidget(label, row, 0);
        int column = 1;
        for (int value : quickSetValues) {
            auto *button = new QPushButton(QStringLiteral("%1mV").arg(value), this);
            button->setObjectName(QStringLiteral("quickSet_%1_%2_%3")
                                      .arg(QString::fromLatin1(r.kind).remove(QLatin1Char(' ')))
                                      .arg(r.stage)
                                      .arg(value));
            button->setAccessibleName(QStringLiteral("%1 to %2mV").arg(rowText).arg(value));
            button->setAutoDefault(false);
            const Sender sender = r.sender;
            const QString caption = QLatin1String(r.caption);
            const int stage = r.stage;
            connect(button, &QPushButton::clicked, this,
                    [this, sender, caption, stage, value] { quickSet(sender, caption, stage, value); });
            grid->addWidget(button, row, column++);
        }
        ++row;
    }
    auto *label = new QLabel(QStringLiteral("Set Adjust in to -1V "), this);
    label->setFont(rowFont);
    grid->addWidget(label, row, 0);
    int column = 1;
    for (int stage = 1; stage <= 2; ++stage) {
        for (char axis : {'x', 'y'}) {
            const QString text = QString::number(stage) + QChar(axis).toUpper();
            auto *button = new QPushButton(text, this);
            button->setObjectName(QStringLiteral("quickSet_adjustIn_") + text);
            button->setAccessibleName(
                QStringLiteral("Set adjust in stage %1 axis %2 to -1V").arg(stage).arg(QChar(axis).toUpper()));
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, stage, axis] { quickSetAdjustIn(stage, axis); });
            grid->addWidget(button, row, column++);
        }
    }
}

void ServiceDialog::equalizeCommandColumns()
{
    // The button columns of the command rows start at one width, so the
    // buttons of a row line up with those of the other rows; the rest of
    // the width is left to the result pane.
    QGridLayout *grid = ui->commandGrid;
    int width = 0;
    for (int i = 0; i < grid->count(); ++i) {
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        if (column > 0 && columnSpan == 1)
            if (auto *button = qobject_cast<QPushButton *>(grid->itemAt(i)->widget()))
                width = qMax(width, button->sizeHint().width());
    }
    for (int column = 1; column < grid->columnCount(); ++column)
        grid->setColumnMinimumWidth(column, width);
    // Space left over goes to the result pane.
    ui->mainLayout->setStretch(1, 1);
}

// ------------------------------------------------------------ connection

void ServiceDialog::setController(Controller *controller)
{
    if (controller != target) {
        if (target)
            disconnect(target, &Controller::busyChanged, this, nullptr);
        target = controller;
        ++generation; // what the previous controller still answers is not shown
        outstanding = 0;
        if (target)
            connect(target, &Controller::busyChanged, this, [this] { showBusy(); });
    }
    if (!target) {
        ui->boardId_Label->setText(QStringLiteral("-"));
        ui->config_Label->setText(QStringLiteral("-"));
        ui->portLabel->setText(QStringLiteral("-"));
        showBusy();
        return;
    }
    struct Info
    {
        QByteArray reply;
        bool tcp = false;
        int parameter = 0;
    };
    Controller *c = target;
    whenDone(c->request([c](Connection &link) {
                 const ServiceSequences::Exchange e =
                     ServiceSequences::exchange(link, [](Connection &l) { l.getControllerId(); });
                 c->reportStreamRestart(e.streamResumed);
                 return Info{e.reply, link.isTcp(), link.parameter()};
             }),
             [this](const Info &info) {
                 ui->boardId_Label->setText(QString::fromLatin1(info.reply.mid(2)).remove(QLatin1Char(';')));
                 ui->PortText->setVisible(info.tcp);
                 ui->portLabel->setVisible(info.tcp);
                 if (info.tcp) {
                     ui->portLabel->setText(QString::number(info.parameter));
                     ui->config_Label->setText(QStringLiteral("See Ethernet adapter"));
                 } else {
                     showBaudRate(info.parameter);
                 }
             });
}

bool ServiceDialog::isBusy() const
{
    return outstanding > 0 || (target && target->isBusy());
}

void ServiceDialog::showBusy()
{
    const bool busy = isBusy();
    if (busy) {
        for (QPushButton *button : testButtons) {
            if (button->isEnabled()) {
                button->setEnabled(false);
                disabledWhileBusy.append(button);
            }
        }
    } else {
        for (QPushButton *button : disabledWhileBusy)
            button->setEnabled(true);
        disabledWhileBusy.clear();
    }
    setWindowTitle(busy ? title + busySuffix : title);
}

template<typename T, typename Show>
void ServiceDialog::whenDone(const QFuture<T> &future, Show show)
{
    ++outstanding;
    showBusy();
    whenReady(future, this, [this, show = std::move(show), sent = generation](const T &result) mutable {
        if (sent != generation)
            return; // another controller by now: its counter was reset
        --outstanding;
        show(result);
        showBusy();
    });
}

void ServiceDialog::showBaudRate(int baudRate)
{
    ui->config_Label->setText(QString::number(baudRate));
    for (int i = 0; i < int(std::size(baudRates)); ++i)
        if (baudRates[i] == baudRate)
            ui->comboBox->setCurrentIndex(i);
}

// --------------------------------------------------------------- helpers

void ServiceDialog::appendResult(const QString &text)
{
    // Lines carry their own line ends; append() would add a paragraph each.
    QTextCursor cursor = ui->result_textBrowser->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    ui->result_textBrowser->setTextCursor(cursor);
    ui->result_textBrowser->verticalScrollBar()->setValue(ui->result_textBrowser->verticalScrollBar()->maximum());
}

bool ServiceDialog::exchange(const std::function<void(Connection &)> &send,
                             const std::function<void(const QByteArray &)> &show)
{
    if (!target) {
        appendResult(QStringLiteral("No controller selected\n"));
        return false;
    }
    Controller *c = target;
    whenDone(c->request([c, send](Connection &link) {
                 const ServiceSequences::Exchange e = ServiceSequences::exchange(link, send);
                 c->reportStreamRestart(e.streamResumed);
                 return e.reply;
             }),
             show);
    return true;
}

void ServiceDialog::runSimple(Sender sender, const QByteArray &arguments, const QString &what)
{
    exchange([sender, arguments](Connection &link) { (link.*sender)(arguments); },
             [this, what](const QByteArray &reply) {
                 appendResult(what + (ServiceReport::isSuccess(reply) ? QStringLiteral(": Success\n")
                                                                      : QStringLiteral(": Failed\n")));
             });
}

void ServiceDialog::stageCommand(Sender sender, int stage, const QString &caption)
{
    runSimple(sender, Protocol::stageArgument(stage), caption + QLatin1Char(' ') + stageNames[stage - 1]);
}

int ServiceDialog::driveValue() const
{
    if (ui->manalPosition_checkBox->isChecked())
        return ui->drive_spinBox->value();
    return ui->Drive_position->currentText().trimmed().toInt();
}

void ServiceDialog::driveActuator(int stage, char axis)
{
    const QByteArray arguments = Protocol::axisRawArgument(stage, axis, quint16(qint16(driveValue())));
    runSimple(&Connection::setDriveActuator, arguments,
              QStringLiteral("Set Drive Actuator Stage %1 - %2").arg(stage).arg(QLatin1Char(axis)));
}

void ServiceDialog::quickSet(Sender sender, const QString &caption, int stage, int value)
{
    runSimple(sender, Protocol::stageRawArgument(stage, quint16(value)),
              QStringLiteral("%1%2 to %3mV").arg(caption).arg(stage).arg(value));
}

void ServiceDialog::quickSetAdjustIn(int stage, char axis)
{
    const QByteArray arguments = Protocol::axisRawArgument(stage, axis, quint16(qint16(adjustInValue)));
    exchange([arguments](Connection &link) { link.setAdjustIn(arguments); },
             [this, stage, axis](const QByteArray &reply) {
                 appendResult(QStringLiteral("Set adjust in stage %1 axis %2 to %3")
                                  .arg(stage)
                                  .arg(QChar(axis).toUpper())
                                  .arg(adjustInValue)
                              + (ServiceReport::isSuccess(reply) ? QStringLiteral("mV: Success\n")
                                                                 : QStringLiteral(": Failed\n")));
             });
}

// ------------------------------------------------------- command buttons

void ServiceDialog::on_buttonSSH_1_clicked() { stageCommand(&Connection::startSetHold, 1, QStringLiteral("Set&Hold")); }
void ServiceDialog::on_buttonSSH_2_clicked() { stageCommand(&Connection::startSetHold, 2, QStringLiteral("Set&Hold")); }
void ServiceDialog::on_buttonSSH_3_clicked() { stageCommand(&Connection::startSetHold, 3, QStringLiteral("Set&Hold")); }
void ServiceDialog::on_buttonCSH_1_clicked() { stageCommand(&Connection::clearSetHold, 1, QStringLiteral("Clear Set&Hold")); }
void ServiceDialog::on_buttonCSH_2_clicked() { stageCommand(&Connection::clearSetHold, 2, QStringLiteral("Clear Set&Hold")); }
void ServiceDialog::on_buttonCSH_3_clicked() { stageCommand(&Connection::clearSetHold, 3, QStringLiteral("Clear Set&Hold")); }
void ServiceDialog::on_buttonSTF_1_clicked() { stageCommand(&Connection::setTriggerFreeze, 1, QStringLiteral("Set Trigger Freeze")); }
void ServiceDialog::on_buttonSTF_2_clicked() { stageCommand(&Connection::setTriggerFreeze, 2, QStringLiteral("Set Trigger Freeze")); }
void ServiceDialog::on_buttonSTF_3_clicked() { stageCommand(&Connection::setTriggerFreeze, 3, QStringLiteral("Set Trigger Freeze")); }
void ServiceDialog::on_buttonCTF_1_clicked() { stageCommand(&Connection::clearTriggerFreeze, 1, QStringLiteral("Clear Trigger Freeze")); }
void ServiceDialog::on_buttonCTF_2_clicked() { stageCommand(&Connection::clearTriggerFreeze, 2, QStringLiteral("Clear Trigger Freeze")); }
void ServiceDialog::on_buttonCTF_3_clicked() { stageCommand(&Connection::clearTriggerFreeze, 3, QStringLiteral("Clear Trigger Freeze")); }
void ServiceDialog::on_buttonSDA_1x_clicked() { driveActuator(1, 'x'); }
void ServiceDialog::on_buttonSDA_2x_clicked() { driveActuator(2, 'x'); }
void ServiceDialog::on_buttonSDA_1y_clicked() { driveActuator(1, 'y'); }
void ServiceDialog::on_buttonSDA_2y_clicked() { driveActuator(2, 'y'); }

void ServiceDialog::on_buttonCLS_clicked()
{
    exchange([](Connection &link) { link.clearLiveStream(); },
             [this](const QByteArray &reply) {
                 appendResult(ServiceReport::isSuccess(reply) ? QStringLiteral("Clear Live Stream: Success\n")
                                                              : QStringLiteral("Clear Live Stream: Failed\n"));
             });
}

void ServiceDialog::on_buttonGAS_clicked()
{
    exchange([](Connection &link) { link.getActiveSignal(); },
             [this](const QByteArray &reply) { appendResult(ServiceReport::activeSignal(reply)); });
}

void ServiceDialog::buttonGIN_clicked()
{
    exchange([](Connection &link) { link.getIntensity(Protocol::stageArgument(1)); },
             [this](const QByteArray &reply) { appendResult(ServiceReport::intensity(reply)); });
}

void ServiceDialog::on_buttonS1S_clicked()
{
    exchange([](Connection &link) { link.getStreamSample(); },
             [this](const QByteArray &reply) { appendResult(ServiceReport::streamSample(reply)); });
}

void ServiceDialog::on_error_PushButton_clicked()
{
    exchange([](Connection &link) { link.getError(); },
             [this](const QByteArray &reply) { appendResult(ServiceReport::lastError(reply)); });
}

void ServiceDialog::on_fram_PushButton_clicked()
{
    exchange([](Connection &link) { link.readFram(); },
             [this](const QByteArray &reply) {
                 qDebug().noquote() << "FRAM:" << reply.toHex(' ');
                 appendResult(ServiceReport::framDump(reply));
             });
}

// ------------------------------------------------------------ speed test

void ServiceDialog::on_speed_pushButton_clicked()
{
    if (!target) {
        appendResult(QStringLiteral("No controller selected\n"));
        return;
    }
    // The controller takes the samples itself meanwhile (ownsSamples), so
    // the window's display tick leaves them to the count.
    whenDone(target->speedTest(LinkSpeedTest::defaultRate, LinkSpeedTest::defaultDurationMs),
             [this](const LinkSequences::SpeedOutcome &outcome) {
                 appendResult(LinkSpeedTest::describe(outcome.result) + QLatin1Char('\n'));
             });
}

// ------------------------------------------------------- baud-rate change

void ServiceDialog::on_baudrateChange_clicked()
{
    if (!target) {
        appendResult(QStringLiteral("No controller selected\n"));
        return;
    }
    const int index = qBound(0, ui->comboBox->currentIndex(), int(std::size(baudRates)) - 1);
    const int newRate = baudRates[index];
    Controller *c = target;
    whenDone(c->request([c, newRate](Connection &link) {
                 const ServiceSequences::BaudChange change = ServiceSequences::changeBaudRate(link, newRate);
                 c->reportStreamRestart(change.streamResumed);
                 return change;
             }),
             [this, newRate](const ServiceSequences::BaudChange &change) {
                 using Change = ServiceSequences::BaudChange;
                 const int oldRate = change.oldParameter;
                 if (change.result == Change::Refused) {
                     // The controller kept its rate, so the link stays as it
                     // was and the stream runs on.
                     appendResult(QStringLiteral("Set Baudrate: Failed\n"));
                     if (!change.connected)
                         appendResult(QStringLiteral("The connection is not open - reconnect the controller\n"));
                     else
                         appendResult(change.tcp ? QStringLiteral("Connection unchanged\n")
                                                 : QStringLiteral("Connection kept at %1 baud\n").arg(oldRate));
                     return;
                 }
                 appendResult(QStringLiteral("Set Baudrate: Success - now adjusting connection - Ethernet is now lost\n"));
                 if (change.tcp) {
                     if (change.result != Change::Reopened)
                         appendResult(QStringLiteral("No answer after reconnecting - check the Ethernet adapter\n"));
                     return;
                 }
                 switch (change.result) {
                 case Change::Reopened:
                     showBaudRate(newRate);
                     appendResult(QStringLiteral("Connection now at %1 baud\n").arg(newRate));
                     break;
                 case Change::FellBack:
                     showBaudRate(oldRate);
                     appendResult(QStringLiteral("No answer at %1 baud - connection back at %2 baud\n")
                                      .arg(newRate)
                                      .arg(oldRate));
                     break;
                 default:
                     showBaudRate(newRate);
                     appendResult(QStringLiteral("No answer at %1 baud or %2 baud - reconnect the controller\n")
                                      .arg(newRate)
                                      .arg(oldRate));
                     break;
                 }
             });
}

// ----------------------------------------------------------------- others

void ServiceDialog::manualPositionClicked(bool checked)
{
    ui->drive_spinBox->setEnabled(checked);
    ui->Drive_position->setEnabled(!checked);
}

void ServiceDialog::on_clear_pushButton_clicked()
{
    ui->result_textBrowser->clear();
}

void ServiceDialog::on_buttonClose_clicked()
{
    hide();
}
