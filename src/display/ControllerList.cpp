#include "display/ControllerList.h"

#include "controller/Controller.h"
#include "controller/ControllerRegistry.h"
#include "controller/FutureCallback.h"
#include "display/Acquisition.h"
#include "display/DisplayTick.h"
#include "display/GenericPlot.h"
#include "display/LinkedSpinBox.h"
#include "display/MainToolBar.h"
#include "display/PlotPanel.h"
#include "display/PointingStatistics.h"
#include "display/SamplingRateLimit.h"
#include "display/StagePanel.h"
#include "display/WindowStatus.h"
#include "link/Connection.h"
#include "link/Identification.h"
#include "overview/ConnectionOverviewDialog.h"
#include "params/ParamsDialog.h"
#include "recording/DataLoggerDialog.h"
#include "recording/Recorder.h"
#include "setup/ConnectionSettings.h"
#include "setup/SettingsDialog.h"

#include <QAction>
#include <QDebug>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>

#include <algorithm>

ControllerList::ControllerList(const Parts &parts, const Widgets &widgets, QObject *parent)
    : QObject(parent)
    , parts(parts)
    , ui(widgets)
{
}

bool ControllerList::isRunning() const
{
    return parts.tools->startAction()->isChecked();
}

void ControllerList::addCurves(int c, const ControllerStatus &status)
{
    for (int s = 0; s < 2; ++s) {
        parts.plots.position[s]->addCurve(c);
        parts.plots.intensity[s]->addCurve(c);
        parts.plots.time[s]->addCurve(2 * c);
        parts.plots.time[s]->addCurve(2 * c + 1);
        parts.plots.time[s]->setCurveColor(status.colorX, 2 * c);
        parts.plots.time[s]->setCurveColor(status.colorY, 2 * c + 1);
        parts.plots.intensity[s]->setCurveColor(status.colorI, c);
        parts.plots.position[s]->setCurveColor(status.colorI, c);
    }
}

void ControllerList::removeCurves(int c)
{
    for (int s = 0; s < 2; ++s) {
        parts.plots.position[s]->removeCurve(c);
        parts.plots.intensity[s]->removeCurve(c);
        parts.plots.time[s]->removeCurve(2 * c + 1);
        parts.plots.time[s]->removeCurve(2 * c);
    }
}

void ControllerList::clearCurves(int c)
{
    for (int s = 0; s < 2; ++s) {
        parts.plots.position[s]->clearCurve(c);
        parts.plots.intensity[s]->clearCurve(c);
        parts.plots.time[s]->clearCurve(2 * c);
        parts.plots.time[s]->clearCurve(2 * c + 1);
    }
}

void ControllerList::add(Controller *controller, ConnectionSettings *settings)
{
    if (!controller)
        return;
    Connection *connection = &controller->link();
    const int c = parts.registry.count();
    ControllerStatus preview;
    parts.registry.add(controller, settings);
    parts.params->addStageDetectors(settings ? *settings : ConnectionSettings());
    preview = parts.registry.controllerStatus.at(c);
    addCurves(c, preview);
    parts.plotPanel->statistics()->addConnection();
    parts.overview->updateConnections(parts.registry.controllerStatus);
    watchController(controller);
    watchDisconnect(connection);
    if (parts.registry.displayed.size() < ControllerRegistry::maxDisplayed
        && connection->linkState() == Connection::Connected) {
        show(connection->address(), true);
    }
    parts.rates.setMaximum(parts.registry.rateLimit());
}

void ControllerList::watchController(Controller *controller)
{
    // The announcements first: a link that goes away is reported before the
    // window disconnects it.
    parts.status->watch(controller);
    parts.acquisition->watch(controller);
    parts.stages->watch(controller);
    // A stream that ran before a command sequence and did not start again.
    connect(controller, &Controller::streamRestartFailed, this, &ControllerList::streamRestartFailed, Qt::QueuedConnection);
    // The overview's switches of a busy controller wait until it is free.
    connect(controller, &Controller::busyChanged, parts.overview,
            [this, controller](bool busy) { parts.overview->setControllerBusy(controller->address(), busy); });
}

void ControllerList::watchDisconnect(Connection *connection)
{
    // A controller that goes away is disconnected through the connection
    // dialog, which marks its row; a notice that arrives after the link was
    // removed or dealt with is dropped.
    connect(
        connection, &Connection::hostDisconnected, parts.connectionDialog,
        [this](QString address) {
            const int index = parts.registry.indexOf(address);
            if (index < 0 || (!parts.registry.isDisplayed(index) && !parts.registry.controllerStatus.at(index).connected
                              && parts.registry.link(index)->linkState() != Connection::Connected))
                return;
            qWarning().noquote() << "Controller" << address << "went away; it is no longer displayed";
            parts.connectionDialog->disconnectRow(address);
        },
        Qt::QueuedConnection);
}

void ControllerList::setSingleControllerWidgetsVisible(bool visible)
{
    for (QWidget *widget : ui.singleController)
        widget->setVisible(visible);
}

void ControllerList::colourAxisCaptions(const ControllerStatus *status)
{
    const QString black = QStringLiteral("color: black");
    auto style = [&](const QColor &colour) {
        return status ? QStringLiteral("color: %1").arg(colour.name()) : black;
    };
    const QString x = style(status ? status->colorX : QColor());
    const QString y = style(status ? status->colorY : QColor());
    const QString i = style(status ? status->colorI : QColor());
    for (int s = 0; s < 2; ++s) {
        ui.timeX[s]->setStyleSheet(x);
        ui.timeY[s]->setStyleSheet(y);
        ui.intensity[s]->setStyleSheet(i);
    }
}

void ControllerList::show(const QString &id, bool show)
{
    const int c = parts.registry.indexOf(id);
    if (c < 0)
        return;
    Connection *link = parts.registry.link(c);
    ControllerStatus &status = parts.registry.controllerStatus[c];
    if (show) {
        if (link->linkState() != Connection::Connected || parts.registry.isDisplayed(c))
            return;
        if (parts.registry.displayed.size() >= ControllerRegistry::maxDisplayed) {
            status.shown = false;
            return;
        }
        parts.registry.displayed.append(c);
        status.shown = true;
        if (parts.registry.displayed.size() == 1) {
            setSingleControllerWidgetsVisible(true);
            if (parts.tools->pointingMode()->isChecked())
                parts.plotPanel->enableStatistics(true);
            parts.tools->startAction()->setEnabled(true);
            parts.recordingDialog->enableStart(true);
            colourAxisCaptions(&status);
            parts.tick.clearAverages();
            parts.registry.activeIndex = c;
            parts.stages->refresh();
        } else if (parts.registry.displayed.size() == 2) {
            setSingleControllerWidgetsVisible(false);
            parts.plotPanel->enableStatistics(false);
            colourAxisCaptions(nullptr);
        }
        if (isRunning() && !link->isStreaming())
            parts.acquisition->startStream(parts.registry.controllers.at(c), parts.tools->samplingRate()->value());
        return;
    }

    if (!parts.registry.isDisplayed(c))
        return;
    parts.registry.displayed.removeAll(c);
    status.shown = false;
    if (parts.registry.displayed.size() == 1) {
        const int remaining = parts.registry.displayed.first();
        setSingleControllerWidgetsVisible(true);
        if (parts.tools->pointingMode()->isChecked())
            parts.plotPanel->enableStatistics(true);
        colourAxisCaptions(&parts.registry.controllerStatus.at(remaining));
        parts.tick.clearAverages();
        parts.registry.activeIndex = remaining;
    } else if (parts.registry.displayed.isEmpty()) {
        parts.tools->startAction()->setEnabled(false);
        parts.recordingDialog->enableStart(false); // stops a running recording
        parts.plotPanel->enableStatistics(false);
        colourAxisCaptions(nullptr);
        parts.registry.activeIndex = -1;
    } else if (parts.registry.activeIndex == c) {
        parts.registry.activeIndex = parts.registry.displayed.first();
    }
    parts.stages->refresh();
    if (link->linkState() == Connection::Connected && link->isStreaming())
        parts.registry.controllers.at(c)->stopStream();
    clearCurves(c);
}

Controller *ControllerList::at(const QString &address) const
{
    const int c = parts.registry.indexOf(address);
    return c < 0 ? nullptr : parts.registry.controllers.at(c);
}

void ControllerList::ready(const QString &address, const QString &controllerId)
{
    const int c = parts.registry.indexOf(address);
    if (c < 0)
        return;
    parts.registry.controllerStatus[c].connected = true;
    parts.registry.controllerStatus[c].controllerId = controllerId;
    if (parts.registry.displayed.size() >= ControllerRegistry::maxDisplayed)
        return;
    show(address, true);
    // The controllers of a setup identify side by side and become ready in
    // any order; they are displayed in the order of the setup all the same.
    std::sort(parts.registry.displayed.begin(), parts.registry.displayed.end());
}

void ControllerList::remove(const QString &address, std::function<void(bool closed)> done)
{
    const int c = parts.registry.indexOf(address);
    if (c < 0) {
        done(false);
        return;
    }
    Controller *controller = parts.registry.controllers.at(c);
    // Hidden at once; its stream is stopped and its link ended by the
    // controller, after whatever it is doing. Until it reports closed it is
    // in the lists but no longer found by its address.
    show(address, false);
    disconnect(&controller->link(), &Connection::hostDisconnected, parts.connectionDialog, nullptr);
    parts.status->forget(controller);
    parts.registry.leaving.insert(controller);
    connect(controller, &Controller::closed, this, [this, controller, done] {
        finishRemoval(controller);
        done(true);
    });
    controller->close();
}

void ControllerList::finishRemoval(Controller *controller)
{
    const int c = parts.registry.indexOf(controller);
    if (c < 0)
        return;
    // Its recording file is closed; the files of the controllers behind it
    // follow their new indices.
    parts.records.removeConnection(c, controller->link().droppedSamplesTotal());
    parts.registry.takeAt(c);
    parts.params->removeStageDetectors(c);
    parts.plotPanel->statistics()->removeConnection(c);
    removeCurves(c);
    parts.stages->refresh();
    parts.rates.setMaximum(parts.registry.rateLimit());
    parts.overview->updateConnections(parts.registry.controllerStatus);
    controller->deleteLater(); // it is the sender of the signal being handled
}

void ControllerList::disconnectController(const QString &address, std::function<void(bool gone)> done)
{
    const int c = parts.registry.indexOf(address);
    if (c < 0) {
        done(false);
        return;
    }
    Controller *controller = parts.registry.controllers.at(c);
    parts.status->expectDisconnect(controller);
    show(address, false);
    if (parts.params->currentIndex() == c)
        parts.params->close();
    parts.registry.controllerStatus[c].shown = false;
    QPointer<Controller> guarded(controller);
    whenReady(controller->disconnectLink(), this, [this, guarded, done](bool) {
        const int index = guarded ? parts.registry.indexOf(guarded.data()) : -1;
        if (index < 0) {
            done(true); // removed meanwhile: gone as well
            return;
        }
        const bool gone = !guarded->isConnected();
        ControllerStatus &status = parts.registry.controllerStatus[index];
        if (gone)
            status.connected = status.stabOn1 = status.stabOn2 = status.active1 = status.active2 = false;
        done(gone);
    });
}

void ControllerList::reconnect(const QString &address, std::function<void(bool ok, QString boardID)> done)
{
    const int c = parts.registry.indexOf(address);
    if (c < 0) {
        qInfo() << "Reconnecting";
        qInfo() << "Reconnecting failed";
        done(false, QString());
        return;
    }
    QPointer<Controller> guarded(parts.registry.controllers.at(c));
    whenReady(parts.registry.controllers.at(c)->reconnect(300), this,
              [this, guarded, done](const ControllerIdentity &identity) {
                  const int index = guarded ? parts.registry.indexOf(guarded.data()) : -1;
                  if (index < 0 || parts.registry.leaving.contains(guarded.data()) || !identity.valid) {
                      done(false, QString());
                      return;
                  }
                  ControllerStatus &status = parts.registry.controllerStatus[index];
                  status.connected = true;
                  status.controllerId = identity.controllerId;
                  if (parts.registry.displayed.size() < ControllerRegistry::maxDisplayed) {
                      show(guarded->address(), true);
                      status.shown = parts.registry.isDisplayed(index);
                  }
                  done(true, identity.controllerId);
              });
}

void ControllerList::setLabel(const QString &address, const QString &label)
{
    for (int c = 0; c < parts.registry.count(); ++c) {
        Connection *link = parts.registry.link(c);
        if (link->address() != address)
            continue;
        if (parts.registry.leaving.contains(parts.registry.controllers.at(c)))
            continue;
        // The reply is not judged: the label is kept either way.
        parts.registry.controllers.at(c)->sendLabel(label);
        parts.registry.controllerStatus[c].label = label;
    }
}

void ControllerList::setGroup(const QString &name, int id)
{
    for (ControllerStatus &status : parts.registry.controllerStatus) {
        if (status.address == name) {
            status.groupId = id;
            return;
        }
    }
}

void ControllerList::setColour(const QString &id, const QColor &color, int graph)
{
    const int c = parts.registry.indexOf(id);
    if (c < 0 || graph < 0 || graph > 2)
        return;
    ControllerStatus &status = parts.registry.controllerStatus[c];
    for (int s = 0; s < 2; ++s) {
        if (graph == 0) {
            parts.plots.time[s]->setCurveColor(color, 2 * c);
        } else if (graph == 1) {
            parts.plots.time[s]->setCurveColor(color, 2 * c + 1);
        } else {
            parts.plots.intensity[s]->setCurveColor(color, c);
            parts.plots.position[s]->setCurveColor(color, c);
        }
    }
    (graph == 0 ? status.colorX : graph == 1 ? status.colorY : status.colorI) = color;
    if (parts.registry.singleDisplayed() >= 0)
        colourAxisCaptions(&parts.registry.controllerStatus.at(parts.registry.singleDisplayed()));
}

bool ControllerList::fillSettings(QList<ConnectionSettings> &settings) const
{
    if (settings.size() != parts.registry.controllerStatus.size())
        return false;
    // The display order is the order of the rows in the system configuration.
    const QList<int> order = parts.overview->order();
    if (order.size() != settings.size())
        return false;
    for (int i = 0; i < settings.size(); ++i) {
        ConnectionSettings &record = settings[i];
        const ControllerStatus &status = parts.registry.controllerStatus.at(i);
        const StageDetectors &models = parts.registry.stageDetectors.at(i);
        record.label = status.label;
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
    return true;
}

