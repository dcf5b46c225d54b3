// The controller list of the main window (adding, showing, removing and
// reconnecting controllers, labels, groups, colours) and the hand-over of the
// stage commands. Removal, disconnection and reconnection are requests of
// the controller; their results arrive later and find the controller by
// pointer, never by an index taken before the request.

#include "display/MainWindow.h"

#include "ui_mainwindow.h"

#include "display/LinkedSpinBox.h"
#include "display/GenericPlot.h"
#include "display/MainToolBar.h"
#include "display/PointingStatistics.h"
#include "display/Acquisition.h"
#include "display/StagePanel.h"
#include "display/WindowStatus.h"
#include "controller/FutureCallback.h"
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
#include <QPointer>
#include <QTimer>

#include <algorithm>

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
    LinkedSpinBox *counters[2] = {tools->samplingRate(), tools->updateRate()};
    for (LinkedSpinBox *counter : counters) {
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
    watchController(controller);
    watchDisconnect(connection);
    if (registry.displayed.size() < ControllerRegistry::maxDisplayed
        && connection->linkState() == Connection::Connected) {
        showConnection(connection->address(), true);
    }
    setRateLimit();
}

void MainWindow::watchController(Controller *controller)
{
    // The announcements first: a link that goes away is reported before the
    // window disconnects it.
    status->watch(controller);
    acquisition->watch(controller);
    stages->watch(controller);
    // A stream that ran before a command sequence and did not start again.
    connect(controller, &Controller::streamRestartFailed, this, &MainWindow::errorStreamStart, Qt::QueuedConnection);
    // The overview's switches of a busy controller wait until it is free.
    connect(controller, &Controller::busyChanged, overview,
            [this, controller](bool busy) { overview->setControllerBusy(controller->address(), busy); });
}

void MainWindow::watchDisconnect(Connection *connection)
{
    // A controller that goes away is disconnected through the connection
    // dialog, which marks its row; a notice that arrives after the link was
    // removed or dealt with is dropped.
    connect(
        connection, &Connection::hostDisconnected, connectionDialog,
        [this](QString address) {
            const int index = registry.indexOf(address);
            if (index < 0 || (!registry.isDisplayed(index) && !registry.controllerStatus.at(index).connected
                              && registry.link(index)->linkState() != Connection::Connected))
                return;
            qWarning().noquote() << "Controller" << address << "went away; it is no longer displayed";
            connectionDialog->on_WidgetDisconnect(address);
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
            tools->startAction()->setEnabled(true);
            recordingDialog->enableStart(true);
            colourAxisCaptions(&status);
            tick.clearAverages();
            registry.activeIndex = c;
            stages->refresh();
        } else if (registry.displayed.size() == 2) {
            setSingleControllerWidgetsVisible(false);
            enableStatistics(false);
            colourAxisCaptions(nullptr);
        }
        if (isRunning() && !link->isStreaming())
            acquisition->startStream(registry.controllers.at(c), tools->samplingRate()->value());
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
        tools->startAction()->setEnabled(false);
        recordingDialog->enableStart(false); // stops a running recording
        enableStatistics(false);
        colourAxisCaptions(nullptr);
        registry.activeIndex = -1;
    } else if (registry.activeIndex == c) {
        registry.activeIndex = registry.displayed.first();
    }
    stages->refresh();
    if (link->linkState() == Connection::Connected && link->isStreaming())
        registry.controllers.at(c)->stopStream();
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
    if (registry.displayed.size() >= ControllerRegistry::maxDisplayed)
        return;
    showConnection(address, true);
    // The controllers of a setup identify side by side and become ready in
    // any order; they are displayed in the order of the setup all the same.
    std::sort(registry.displayed.begin(), registry.displayed.end());
}

void MainWindow::closedConnection(QString address, std::function<void(bool closed)> done)
{
    const int c = registry.indexOf(address);
    if (c < 0) {
        done(false);
        return;
    }
    Controller *controller = registry.controllers.at(c);
    // Hidden at once; its stream is stopped and its link ended by the
    // controller, after whatever it is doing. Until it reports closed it is
    // in the lists but no longer found by its address.
    showConnection(address, false);
    disconnect(&controller->link(), &Connection::hostDisconnected, connectionDialog, nullptr);
    status->forget(controller);
    registry.leaving.insert(controller);
    connect(controller, &Controller::closed, this, [this, controller, done] {
        finishRemoval(controller);
        done(true);
    });
    controller->close();
}

void MainWindow::finishRemoval(Controller *controller)
{
    const int c = registry.indexOf(controller);
    if (c < 0)
        return;
    // Its recording file is closed; the files of the controllers behind it
    // follow their new indices.
    records.removeConnection(c, controller->link().droppedSamplesTotal());
    registry.takeAt(c);
    params->removeStageDetectors(c);
    stats->removeConnection(c);
    removeCurves(c);
    stages->refresh();
    setRateLimit();
    overview->updateConnections(registry.controllerStatus);
    controller->deleteLater(); // it is the sender of the signal being handled
}

void MainWindow::disconnectConnection(QString address, std::function<void(bool gone)> done)
{
    const int c = registry.indexOf(address);
    if (c < 0) {
        done(false);
        return;
    }
    Controller *controller = registry.controllers.at(c);
    status->expectDisconnect(controller);
    showConnection(address, false);
    if (params->currentIndex() == c)
        params->close();
    registry.controllerStatus[c].shown = false;
    QPointer<Controller> guarded(controller);
    whenReady(controller->disconnectLink(), this, [this, guarded, done](bool) {
        const int index = guarded ? registry.indexOf(guarded.data()) : -1;
        if (index < 0) {
            done(true); // removed meanwhile: gone as well
            return;
        }
        const bool gone = !guarded->isConnected();
        ControllerStatus &status = registry.controllerStatus[index];
        if (gone)
            status.connected = status.stabOn1 = status.stabOn2 = status.active1 = status.active2 = false;
        done(gone);
    });
}

void MainWindow::reconnectConnection(QString address, std::function<void(bool ok, QString boardID)> done)
{
    const int c = registry.indexOf(address);
    if (c < 0) {
        qInfo() << "Reconnecting";
        qInfo() << "Reconnecting failed";
        done(false, QString());
        return;
    }
    QPointer<Controller> guarded(registry.controllers.at(c));
    whenReady(registry.controllers.at(c)->reconnect(300), this,
              [this, guarded, done](const ControllerIdentity &identity) {
                  const int index = guarded ? registry.indexOf(guarded.data()) : -1;
                  if (index < 0 || registry.leaving.contains(guarded.data()) || !identity.valid) {
                      done(false, QString());
                      return;
                  }
                  ControllerStatus &status = registry.controllerStatus[index];
                  status.connected = true;
                  status.controllerId = identity.controllerId;
                  if (registry.displayed.size() < ControllerRegistry::maxDisplayed) {
                      showConnection(guarded->address(), true);
                      status.shown = registry.isDisplayed(index);
                  }
                  done(true, identity.controllerId);
              });
}

void MainWindow::changeLabel(QString address, QString label)
{
    for (int c = 0; c < registry.count(); ++c) {
        Connection *link = registry.link(c);
        if (link->address() != address)
            continue;
        if (registry.leaving.contains(registry.controllers.at(c)))
            continue;
        // The reply is not judged: the label is kept either way.
        registry.controllers.at(c)->sendLabel(label);
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

// ---- Stage commands ---------------------------------------------------------------

bool MainWindow::on_push_Stab1_clicked()
{
    return stages->clicked(1);
}

bool MainWindow::on_push_Stab2_clicked()
{
    return stages->clicked(2);
}

void MainWindow::activeStage(QString id, int stage, bool activate)
{
    stages->switchStage(id, stage, activate);
}

void MainWindow::multiplexSystem(QString name, bool direction, int stage)
{
    stages->multiplex(name, direction, stage);
}

bool MainWindow::requestActiveStatus()
{
    return acquisition->pollActive();
}

int MainWindow::errorCount() const
{
    return acquisition->errorCount();
}
