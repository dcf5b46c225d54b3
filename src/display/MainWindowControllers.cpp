// The controller list of the main window (adding, showing, removing and
// reconnecting controllers, labels, groups, colours) and the stage commands
// with the status query.

#include "display/MainWindow.h"

#include "ui_mainwindow.h"

#include "display/Counter.h"
#include "display/GenericPlot.h"
#include "display/KV_ToolBar.h"
#include "display/PointingStatistics.h"
#include "display/StreamControl.h"
#include "controller/Controller.h"
#include "link/Connection.h"
#include "link/Identification.h"
#include "overview/ConnectionOverviewDialog.h"
#include "params/ParamsDialog.h"
#include "recording/DataLoggerDialog.h"
#include "setup/ConnectionSettings.h"
#include "setup/SettingsDialog.h"

#include <QDebug>
#include <QMessageBox>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

using StreamControl::StreamPause;

void MainWindow::addCurves(int c, const ControllerStatus &status)
{
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->addCurve(c);
        plots.intensity[s]->addCurve(c);
        plots.time[s]->addCurve(2 * c);
        plots.time[s]->addCurve(2 * c + 1);
        plots.time[s]->setCurveColor(status.colorX, 2 * c);
        plots.time[s]->setCurveColor(status.colorY, 2 * c + 1);
        plots.intensity[s]->setCurveColor(status.colorI, c);
        plots.position[s]->setCurveColor(status.colorI, c);
    }
}

void MainWindow::removeCurves(int c)
{
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->removeCurve(c);
        plots.intensity[s]->removeCurve(c);
        plots.time[s]->removeCurve(2 * c + 1);
        plots.time[s]->removeCurve(2 * c);
    }
}

void MainWindow::clearCurves(int c)
{
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->clearCurve(c);
        plots.intensity[s]->clearCurve(c);
        plots.time[s]->clearCurve(2 * c);
        plots.time[s]->clearCurve(2 * c + 1);
    }
}

void MainWindow::setRateLimit()
{
    maxRate = registry.rateLimit();
    Counter *counters[2] = {tools->samplingRate(), tools->updateRate()};
    for (Counter *counter : counters) {
        if (triggerRateLock && counter == tools->samplingRate()) {
            savedRateMaximum = maxRate;
            continue;
        }
        counter->setMaximum(maxRate); // lowers a higher value with it
    }
}

void MainWindow::newConnection(Controller *controller, ConnectionSettings *settings)
{
    if (!controller)
        return;
    Connection *connection = &controller->link();
    const int c = registry.count();
    ControllerStatus preview;
    registry.add(controller, settings);
    params->addStageDetectors(settings ? *settings : ConnectionSettings());
    preview = registry.controllerStatus.at(c);
    addCurves(c, preview);
    stats->addConnection();
    overview->updateConnections(registry.controllerStatus);
    watchDisconnect(connection);
    if (registry.displayed.size() < ControllerRegistry::maxDisplayed
        && connection->linkState() == Connection::Connected) {
        showConnection(connection->address(), true);
    }
    setRateLimit();
}

void MainWindow::watchDisconnect(Connection *connection)
{
    // A controller that goes away is disconnected through the connection
    // dialog, which marks its row; a notice that arrives after the link was
    // removed or dealt with is dropped.
    connect(
        connection, &Connection::hostDisconnected, settingsDlg,
        [this](QString address) {
            const int index = registry.indexOf(address);
            if (index < 0 || (!registry.isDisplayed(index) && !registry.controllerStatus.at(index).connected
                              && registry.link(index)->linkState() != Connection::Connected))
                return;
            qWarning().noquote() << "Controller" << address << "went away; it is no longer displayed";
            settingsDlg->on_WidgetDisconnect(address);
        },
        Qt::QueuedConnection);
}

void MainWindow::setSingleControllerWidgetsVisible(bool visible)
{
    ui->frameStage->setVisible(visible);
    ui->frameStage_2->setVisible(visible);
    ui->numericDisplays->setVisible(visible);
    ui->numericDisplays_2->setVisible(visible);
}

void MainWindow::colourAxisCaptions(const ControllerStatus *status)
{
    const QString black = QStringLiteral("color: black");
    auto style = [&](const QColor &colour) {
        return status ? QStringLiteral("color: %1").arg(colour.name()) : black;
    };
    const QString x = style(status ? status->colorX : QColor());
    const QString y = style(status ? status->colorY : QColor());
    const QString i = style(status ? status->colorI : QColor());
    ui->label_timeX->setStyleSheet(x);
    ui->label_timeX_2->setStyleSheet(x);
    ui->label_timeY->setStyleSheet(y);
    ui->label_timeY_2->setStyleSheet(y);
    ui->label_intensity->setStyleSheet(i);
    ui->label_intensity_2->setStyleSheet(i);
}

void MainWindow::showConnection(QString id, bool show)
{
    const int c = registry.indexOf(id);
    if (c < 0)
        return;
    Connection *link = registry.link(c);
    ControllerStatus &status = registry.controllerStatus[c];
    if (show) {
        if (link->linkState() != Connection::Connected || registry.isDisplayed(c))
            return;
        if (registry.displayed.size() >= ControllerRegistry::maxDisplayed) {
            status.shown = false;
            return;
        }
        registry.displayed.append(c);
        status.shown = true;
        if (registry.displayed.size() == 1) {
            setSingleControllerWidgetsVisible(true);
            if (tools->pointingMode()->isChecked()) {
                ui->checkBox_statistics->setEnabled(true);
                ui->checkBox_statistics_2->setEnabled(true);
                showStatistics1(ui->checkBox_statistics->isChecked());
                showStatistics2(ui->checkBox_statistics_2->isChecked());
            }
            ui->push_Stab1->setEnabled(true);
            ui->push_Stab2->setEnabled(true);
            tools->startAction()->setEnabled(true);
            dataLoggerDlg->enableStart(true);
            colourAxisCaptions(&status);
            tick.clearAverages();
            registry.activeIndex = c;
        } else if (registry.displayed.size() == 2) {
            setSingleControllerWidgetsVisible(false);
            enableStatistics(false);
            colourAxisCaptions(nullptr);
        }
        if (isRunning() && !link->isStreaming()
            && !StreamControl::startStream(link, tools->samplingRate()->value()))
            errorStreamStart();
        return;
    }

    if (!registry.isDisplayed(c))
        return;
    registry.displayed.removeAll(c);
    status.shown = false;
    if (registry.displayed.size() == 1) {
        const int remaining = registry.displayed.first();
        setSingleControllerWidgetsVisible(true);
        if (tools->pointingMode()->isChecked())
            enableStatistics(true);
        colourAxisCaptions(&registry.controllerStatus.at(remaining));
        tick.clearAverages();
        registry.activeIndex = remaining;
    } else if (registry.displayed.isEmpty()) {
        ui->push_Stab1->setEnabled(false);
        ui->push_Stab2->setEnabled(false);
        tools->startAction()->setEnabled(false);
        dataLoggerDlg->enableStart(false); // stops a running recording
        enableStatistics(false);
        colourAxisCaptions(nullptr);
        registry.activeIndex = -1;
    } else if (registry.activeIndex == c) {
        registry.activeIndex = registry.displayed.first();
    }
    if (link->linkState() == Connection::Connected && link->isStreaming())
        StreamControl::stopStream(link);
    clearCurves(c);
}

Controller *MainWindow::controllerAt(QString address) const
{
    const int c = registry.indexOf(address);
    return c < 0 ? nullptr : registry.controllers.at(c);
}

void MainWindow::connectionReady(QString address, QString controllerId)
{
    const int c = registry.indexOf(address);
    if (c < 0)
        return;
    registry.controllerStatus[c].connected = true;
    registry.controllerStatus[c].controllerId = controllerId;
    if (registry.displayed.size() < ControllerRegistry::maxDisplayed)
        showConnection(address, true);
}

void MainWindow::closedConnection(QString address, std::function<void(bool closed)> done)
{
    done(closeNow(address));
}

void MainWindow::disconnectConnection(QString address, std::function<void(bool gone)> done)
{
    done(disconnectNow(address));
}

void MainWindow::reconnectConnection(QString address, std::function<void(bool ok, QString boardID)> done)
{
    QString boardID;
    const bool ok = reconnectNow(address, boardID);
    done(ok, boardID);
}

bool MainWindow::closeNow(const QString &address)
{
    const int c = registry.indexOf(address);
    if (c < 0)
        return false;
    Connection *link = registry.link(c);
    displayTimer->stop();
    showConnection(address, false);
    if (link->linkState() == Connection::Connected && link->isStreaming())
        StreamControl::stopStream(link);
    disconnect(link, &Connection::hostDisconnected, settingsDlg, nullptr);
    if (!link->disconnectLink()) {
        watchDisconnect(link);
        restartDisplayTimer();
        return false;
    }
    // Its recording file is closed; the files of the controllers behind it
    // follow their new indices.
    records.removeConnection(c, link->droppedSamplesTotal());
    Controller *controller = registry.takeAt(c);
    params->removeStageDetectors(c);
    stats->removeConnection(c);
    removeCurves(c);
    delete controller;
    setRateLimit();
    restartDisplayTimer();
    return true;
}

bool MainWindow::disconnectNow(const QString &address)
{
    const int c = registry.indexOf(address);
    if (c < 0)
        return false;
    Connection *link = registry.link(c);
    link->disconnectLink();
    QThread::msleep(2);
    showConnection(address, false);
    if (params->currentIndex() == c)
        params->close();
    ControllerStatus &status = registry.controllerStatus[c];
    status.shown = false;
    const bool gone = link->linkState() != Connection::Connected;
    if (gone)
        status.connected = status.stabOn1 = status.stabOn2 = status.active1 = status.active2 = false;
    return gone;
}

bool MainWindow::reconnectNow(const QString &address, QString &boardID)
{
    qInfo() << "Reconnecting";
    for (int c = 0; c < registry.count(); ++c) {
        Connection *link = registry.link(c);
        if (link->address() != address)
            continue;
        if (link->isRunning()) {
            link->disconnectLink();
            QThread::msleep(2);
        }
        link->start();
        const qint64 deadline = Connection::now() + 300;
        while (link->linkState() != Connection::Connected && Connection::now() < deadline)
            QThread::msleep(1);
        if (link->linkState() != Connection::Connected) {
            qInfo() << "Reconnecting failed";
            return false;
        }
        QByteArray reply;
        link->clearLiveStream();
        link->waitForReply(reply);
        link->clearLiveStream();
        if (!link->waitForReply(reply) || reply.isEmpty()) {
            link->clearLiveStream();
            link->waitForReply(reply);
        }
        link->getControllerId();
        reply.clear();
        link->waitForReply(reply);
        const ControllerIdentity identity = parseIdentification(reply);
        if (identity.valid) {
            applyIdentification(*link, identity);
            registry.controllerStatus[c].connected = true;
            if (registry.displayed.size() < ControllerRegistry::maxDisplayed) {
                showConnection(address, true);
                registry.controllerStatus[c].shown = registry.isDisplayed(c);
            }
            boardID = identity.controllerId;
            registry.controllerStatus[c].controllerId = boardID;
            qInfo() << "Successfully reconnected";
            return true;
        }
        link->disconnectLink();
    }
    qInfo() << "Reconnecting failed";
    return false;
}

void MainWindow::changeLabel(QString address, QString label)
{
    for (int c = 0; c < registry.count(); ++c) {
        Connection *link = registry.link(c);
        if (link->address() != address)
            continue;
        link->setLabel(label);
        link->sendLabel(label);
        QByteArray reply;
        link->waitForReply(reply); // not judged: the label is kept either way
        registry.controllerStatus[c].label = label;
    }
}

void MainWindow::changeGroupId(QString name, int id)
{
    for (ControllerStatus &status : registry.controllerStatus) {
        if (status.address == name) {
            status.groupId = id;
            return;
        }
    }
}

void MainWindow::updateColorGraph(QString id, QColor color, int graph)
{
    const int c = registry.indexOf(id);
    if (c < 0 || graph < 0 || graph > 2)
        return;
    ControllerStatus &status = registry.controllerStatus[c];
    for (int s = 0; s < 2; ++s) {
        if (graph == 0) {
            plots.time[s]->setCurveColor(color, 2 * c);
        } else if (graph == 1) {
            plots.time[s]->setCurveColor(color, 2 * c + 1);
        } else {
            plots.intensity[s]->setCurveColor(color, c);
            plots.position[s]->setCurveColor(color, c);
        }
    }
    (graph == 0 ? status.colorX : graph == 1 ? status.colorY : status.colorI) = color;
    if (registry.singleDisplayed() >= 0)
        colourAxisCaptions(&registry.controllerStatus.at(registry.singleDisplayed()));
}

bool MainWindow::updateSettingsAndParameters(QList<ConnectionSettings> &settings)
{
    if (settings.size() != registry.controllerStatus.size())
        return false;
    displayTimer->stop();
    // The display order is the order of the rows in the system configuration.
    const QList<int> order = overview->order();
    if (order.size() != settings.size()) {
        restartDisplayTimer();
        return false;
    }
    for (int i = 0; i < settings.size(); ++i) {
        ConnectionSettings &record = settings[i];
        const ControllerStatus &status = registry.controllerStatus.at(i);
        const StageDetectors &models = registry.stageDetectors.at(i);
        setFixedText(record.label, status.label);
        record.colorX = status.colorX;
        record.colorY = status.colorY;
        record.colorI = status.colorI;
        for (int s = 0; s < 2; ++s) {
            record.model[s] = models.stage(s)->type();
            record.beamDiameter[s] = models.stage(s)->beamDiameter;
            record.calculation[s] = models.stage(s)->calculation;
        }
        record.pulsedLaser = models.triggerDisplay;
        record.position = order.at(i);
    }
    restartDisplayTimer();
    return true;
}

void MainWindow::showConnectionCommonDetector(QString, bool)
{
}

// ---- Stage commands ---------------------------------------------------------------

bool MainWindow::on_push_Stab1_clicked()
{
    return stageButtonClicked(1);
}

bool MainWindow::on_push_Stab2_clicked()
{
    return stageButtonClicked(2);
}

bool MainWindow::stageButtonClicked(int stage)
{
    QPushButton *button = stage == 2 ? ui->push_Stab2 : ui->push_Stab1;
    const int c = registry.activeIndex;
    if (c < 0 || c >= registry.count())
        return false;
    Connection *link = registry.link(c);
    button->setEnabled(false);
    StreamPause pause(link);
    const bool on = button->isChecked();
    const QByteArray arguments = QByteArray(1, char(stage)) + ';';
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (on)
            link->setStabilizationOn(arguments);
        else
            link->setStabilizationOff(arguments);
        QByteArray reply;
        link->waitForReply(reply);
        if (StreamControl::isGoodReply(reply)) {
            button->setText(on ? QStringLiteral("ON") : QStringLiteral("OFF"));
            button->setPalette(on ? onPalette : offPalette);
            if (!on)
                setLamp(stage, false);
            break;
        }
    }
    pause.refreshStatus(registry.controllerStatus[c]);
    if (!pause.resume())
        errorStreamStart();
    button->setEnabled(true);
    return true;
}

void MainWindow::activeStage(QString id, int stage, bool activate)
{
    const int c = registry.indexOf(id);
    if (c < 0)
        return;
    Connection *link = registry.link(c);
    if (link->linkState() != Connection::Connected)
        return;
    StreamPause pause(link);
    const QByteArray arguments = QByteArray(1, char(stage)) + ';';
    if (activate)
        link->setStabilizationOn(arguments);
    else
        link->setStabilizationOff(arguments);
    QByteArray reply;
    link->waitForReply(reply);
    pause.refreshStatus(registry.controllerStatus[c]);
    if (!pause.resume())
        errorStreamStart();
}

void MainWindow::multiplexSystem(QString name, bool direction, int stage)
{
    displayTimer->stop();
    const int c = registry.indexOf(name);
    if (c >= 0 && !multiplexBusy) {
        ControllerStatus &status = registry.controllerStatus[c];
        bool &flag = stage == 2 ? status.multiplex2 : status.multiplex1;
        if (flag != direction) {
            multiplexBusy = true;
            Connection *link = registry.link(c);
            StreamPause pause(link);
            const QByteArray arguments = QByteArray(1, char(stage)) + ';';
            if (direction)
                link->setMultiplex(arguments);
            else
                link->clearMultiplex(arguments);
            QByteArray reply;
            link->waitForReply(reply);
            flag = (!reply.isEmpty() && reply.at(0) == '\x00') ? direction : !direction;
            pause.refreshStatus(status);
            if (!pause.resume())
                errorStreamStart();
        }
    }
    restartDisplayTimer();
    multiplexBusy = false;
}

bool MainWindow::getStabilAndActiveStatus()
{
    unsigned char flags = StreamControl::noStatus;
    if (registry.activeIndex >= 0) {
        Connection *link = registry.link(registry.activeIndex);
        link->getStatusFlags();
        QByteArray reply;
        link->waitForReply(reply);
        flags = StreamControl::statusFromReply(reply);
    }
    if (flags == StreamControl::noStatus) {
        if (++errors > 3) {
            stopDrawingPlots();
            auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("SerialPort"),
                                        QStringLiteral("Too many communication errors.\nDevice disconnected."),
                                        QMessageBox::Ok, this);
            box->setObjectName(QStringLiteral("communicationErrorBox"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        return false;
    }
    errors = 0;
    setStageButton(1, flags & (1 << 3));
    setStageButton(2, flags & (1 << 4));
    return getActiveStatus(flags);
}

bool MainWindow::getActiveStatus(uchar flag)
{
    if (flag == StreamControl::noStatus) {
        if (registry.activeIndex < 0)
            return false;
        Connection *link = registry.link(registry.activeIndex);
        link->getStatusFlags();
        QByteArray reply;
        link->waitForReply(reply);
        flag = StreamControl::statusFromReply(reply);
        if (flag & 0x80)
            return false;
    }
    setLamp(1, flag & (1 << 5));
    setLamp(2, flag & (1 << 6));
    return true;
}
