// The main window's interface to the connection settings dialog and the
// system configuration overview: each call is handed to the controller list
// or the stage panel.

#include "display/MainWindow.h"

#include "ui_mainwindow.h"

#include "display/Acquisition.h"
#include "display/ControllerList.h"
#include "display/LiveDisplay.h"
#include "display/StagePanel.h"
#include "overview/ConnectionOverviewDialog.h"

#include <QAction>
#include <QTimer>

void MainWindow::buildOverview()
{
    overview = new ConnectionOverviewDialog(this);
    connect(overview, &ConnectionOverviewDialog::displayConnection, this, &MainWindow::showConnection);
    connect(overview, &ConnectionOverviewDialog::changeColor, this, &MainWindow::updateColorGraph);
    connect(overview, &ConnectionOverviewDialog::changeStage, this, &MainWindow::activeStage);
    ui->actionSystemConfiguration->setEnabled(true);
    connect(ui->actionSystemConfiguration, &QAction::triggered, overview, [this] {
        overview->show();
        overview->raise();
        overview->activateWindow();
    });
}

void MainWindow::newConnection(Controller *controller, ConnectionSettings *settings)
{
    if (controller)
        controllerList->add(controller, settings);
}

void MainWindow::showConnection(QString id, bool show)
{
    controllerList->show(id, show);
}

Controller *MainWindow::controllerAt(QString address) const
{
    return controllerList->at(address);
}

void MainWindow::connectionReady(QString address, QString controllerId)
{
    controllerList->ready(address, controllerId);
}

void MainWindow::closedConnection(QString address, std::function<void(bool closed)> done)
{
    controllerList->remove(address, std::move(done));
}

void MainWindow::disconnectConnection(QString address, std::function<void(bool gone)> done)
{
    controllerList->disconnectController(address, std::move(done));
}

void MainWindow::reconnectConnection(QString address, std::function<void(bool ok, QString boardID)> done)
{
    controllerList->reconnect(address, std::move(done));
}

void MainWindow::changeLabel(QString address, QString label)
{
    controllerList->setLabel(address, label);
}

void MainWindow::changeGroupId(QString name, int id)
{
    controllerList->setGroup(name, id);
}

void MainWindow::updateColorGraph(QString id, QColor color, int graph)
{
    controllerList->setColour(id, color, graph);
}

bool MainWindow::updateSettingsAndParameters(QList<ConnectionSettings> &settings)
{
    // No tick while the records are filled.
    live->pause();
    const bool filled = controllerList->fillSettings(settings);
    live->resume();
    return filled;
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
