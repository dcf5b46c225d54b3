#include "display/MainWindow.h"

#include "ui_mainwindow.h"

#include "controller/Controller.h"
#include "display/ColorScalesFrame.h"
#include "display/LinkedSpinBox.h"
#include "display/LiveDisplay.h"
#include "display/GenericPlot.h"
#include "display/HelpMenu.h"
#include "display/MainToolBar.h"
#include "display/PlotConfigurator.h"
#include "display/ControllerList.h"
#include "display/PlotPanel.h"
#include "display/PointingStatistics.h"
#include "display/RecordingControl.h"
#include "display/SamplingRateLimit.h"
#include "display/Acquisition.h"
#include "display/StagePanel.h"
#include "display/ThermoSlider.h"
#include "display/WindowAnalysis.h"
#include "display/WindowStatus.h"
#include "display/Zoomer.h"
#include "link/Connection.h"
#include "overview/ConnectionOverviewDialog.h"
#include "params/ParamsDialog.h"
#include "recording/DataLoggerDialog.h"
#include "setup/SettingsDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLCDNumber>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <QUrl>

namespace {
const QString zeroText = QStringLiteral("0.00");
}

// The images are compiled into this static library; registering them here
// keeps the linker from dropping them.
static void initImages()
{
    Q_INIT_RESOURCE(images);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , params(new ParamsDialog(this))
    , registry(params->stageDetectors())
    , tick(registry, plots)
{
    qInfo() << "Constructing main window";
    initImages();
    ui->setupUi(this);
    resize(1064, 808);
    setMinimumSize(600, 450);

    help = new HelpMenu(this, registry, {ui->actionAboutSoftware, ui->actionManualSoftware, ui->actionManualHardware});

    buildToolBar();

    setWindowTitle(QStringLiteral("ORX Beam Stabilization"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setContextMenuPolicy(Qt::NoContextMenu);

    stages = new StagePanel(registry,
                            {{ui->push_Stab1, ui->push_Stab2},
                             {ui->label_lamp, ui->label_lamp_2},
                             {ui->label_active, ui->label_active_2}},
                            this);
    acquisition = new Acquisition(registry, this);
    connect(acquisition, &Acquisition::streamStartFailed, this, &MainWindow::errorStreamStart);
    QPalette lcdPalette;
    lcdPalette.setColor(QPalette::Window, Qt::black);
    lcdPalette.setColor(QPalette::WindowText, Qt::green);
    lcdPalette.setColor(QPalette::Light, Qt::green);
    lcdPalette.setColor(QPalette::Dark, Qt::darkGreen);
    for (QLCDNumber *lcd : findChildren<QLCDNumber *>()) {
        lcd->setAutoFillBackground(true);
        lcd->setPalette(lcdPalette);
        lcd->display(zeroText);
    }

    buildPlots();

    plotPanel->clearStatistics();

    thermo[0] = ui->thermo_x;
    thermo[1] = ui->thermo_y;
    thermo[2] = ui->thermo_x_2;
    thermo[3] = ui->thermo_y_2;

    streamError = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Information"),
                                  QStringLiteral("Streaming error has occurred."), QMessageBox::Ok, this);
    streamError->setObjectName(QStringLiteral("streamErrorBox"));
    streamError->setInformativeText(QString());
    streamError->setModal(false);

    buildOverview();
    buildDialogs();
    WindowStatus::Parts statusParts{{ui->thermo_x, ui->thermo_y, ui->thermo_x_2, ui->thermo_y_2},
                                    {ui->layoutBars, ui->layoutBars_2},
                                    ui->menuHelp->menuAction()};
    status = new WindowStatus(this, registry, records, recordingControl->dialog(), statusParts);
    recordingControl->setStatus(status);
    status->setRowMarker([this](const QString &address, const QString &text) {
        connectionDialog->markController(address, text);
    });
    ControllerList::Parts listParts{registry, plots,     tick,           records,         *rates,
                                    tools,    plotPanel, params,         overview,        connectionDialog,
                                    recordingControl->dialog(), acquisition,    stages,          status};
    ControllerList::Widgets listWidgets{{ui->frameStage, ui->frameStage_2, ui->numericDisplays, ui->numericDisplays_2},
                                        {ui->label_timeX, ui->label_timeX_2},
                                        {ui->label_timeY, ui->label_timeY_2},
                                        {ui->label_intensity, ui->label_intensity_2}};
    controllerList = new ControllerList(listParts, listWidgets, this);
    connect(controllerList, &ControllerList::streamRestartFailed, this, &MainWindow::errorStreamStart);

    params->attachControllers(registry.controllers, registry.controllerStatus);
    connect(ui->actionParametersOpen, &QAction::triggered, params, [this] { params->show(); params->raise(); });
    connect(ui->actionParametersClose, &QAction::triggered, params, &QDialog::close);
    connect(overview, &ConnectionOverviewDialog::openParamDialog, params, &ParamsDialog::openDialog);
    analysisSide = new WindowAnalysis(this, registry, tick, units, tools, thermo);
    // The first tick only now: building the dialogs processes events, and a
    // tick must not find the analysis side unbuilt.
    LiveDisplay::Parts liveParts{registry, tick, units, tools, *rates, plotPanel, acquisition, stages, status,
                                 overview, recordingControl, analysisSide,
                                 {ui->lcd_positionX, ui->lcd_positionY, ui->lcd_intensityValue,
                                  ui->lcd_positionX_2, ui->lcd_positionY_2, ui->lcd_intensityValue_2}};
    live = new LiveDisplay(this, liveParts, 1000);

    ui->actionDisconnect->setVisible(false);
    menuBar()->removeAction(ui->menuParameters->menuAction());
    tools->startAction()->setEnabled(false);
    recordingControl->dialog()->enableStart(false);
    tick.timeOrigin[0] = tick.timeOrigin[1] = 0;
    for (QWidget *single : std::initializer_list<QWidget *>{ui->frameStage, ui->frameStage_2, ui->numericDisplays, ui->numericDisplays_2})
        single->setVisible(false);
    // The default setup: its controllers are handed over, and those marked
    // for automatic connection are connected and displayed.
    connectionDialog->loadConnection(QString());
    // 430 Hz until links say otherwise; loaded links set the limit they allow.
    if (registry.count() > 0)
        rates->setMaximum(registry.rateLimit());
    qInfo() << "Finished constructing main window";
}

MainWindow::~MainWindow()
{
    qInfo() << "Destroying main window";
    if (!live->isClosing())
        live->stop();
    live->close();
    // The controllers go while the window's members still exist: deleting
    // one ends its link (bounded by its request in progress) and may deliver
    // pending events, and no result of theirs may reach the window any more.
    registry.displayed.clear();
    for (int c = registry.count() - 1; c >= 0; --c) {
        Controller *controller = registry.takeAt(c);
        QObject::disconnect(controller, nullptr, nullptr, nullptr);
        delete controller;
    }
    qInfo() << "Finished destroying main window";
}

void MainWindow::buildToolBar()
{
    tools = new MainToolBar(this);
    addToolBar(Qt::TopToolBarArea, tools);
    rates = std::make_unique<SamplingRateLimit>(tools);
    // The live display is built last; the tool bar cannot be used before.
    connect(tools->startAction(), &QAction::triggered, this, [this] { if (live) live->startStop(); });
    connect(tools->clearAction(), &QAction::triggered, this, [this] { if (live) live->resetPlotsAndDisplays(); });
    connect(tools->pointingMode(), &QRadioButton::toggled, this, [this](bool on) { if (live) live->enableSamplesCounter(on); });
    connect(tools->samplesToTake(), &LinkedSpinBox::valueChanged, this, [this](int value) { tick.samplesToTake = value; });
}

void MainWindow::buildPlots()
{
    plots.position[0] = ui->plot_position;
    plots.position[1] = ui->plot_position_2;
    plots.time[0] = ui->plot_time;
    plots.time[1] = ui->plot_time_2;
    plots.intensity[0] = ui->plot_intensity;
    plots.intensity[1] = ui->plot_intensity_2;
    PlotPanel::Widgets panelWidgets{{ui->checkBox_statistics, ui->checkBox_statistics_2},
                                    {ui->pushButton_resetZoomPosition, ui->pushButton_resetZoomPosition_2},
                                    {ui->pushButton_resetZoomTime, ui->pushButton_resetZoomTime_2},
                                    {ui->label_positionUnit, ui->label_positionUnit_2},
                                    {ui->label_timeX, ui->label_timeX_2},
                                    {ui->label_timeY, ui->label_timeY_2},
                                    {ui->label_positionX, ui->label_positionX_2},
                                    {ui->label_positionY, ui->label_positionY_2}};
    plotPanel = new PlotPanel(plots, tick, registry, units, panelWidgets, this);
    connect(tools->pointingMode(), &QRadioButton::toggled, plotPanel, &PlotPanel::enableStatistics);
    for (int s = 0; s < 2; ++s) {
        PlotConfigurator::configurePositionPlot(plots.position[s]);
        PlotConfigurator::configureTimePlot(plots.time[s]);
        PlotConfigurator::configureIntensityPlot(plots.intensity[s]);
        connect(tools->pointingMode(), &QRadioButton::toggled, plots.position[s], &GenericPlot::setAccumulate);
        plots.position[s]->setMinimumSize(120, 120);
        plots.time[s]->setMinimumHeight(90);
        plots.intensity[s]->setMinimumHeight(70);
    }
    tick.timeWindow[0] = tick.timeWindow[1] = 10 * 1000.0;
    plotPanel->drawWhiteLine(10000);
}

void MainWindow::buildDialogs()
{
    connectionDialog = new SettingsDialog(this, this);
    connectionDialog->setObjectName(QStringLiteral("settingsDialog"));
    connect(connectionDialog, &SettingsDialog::newLabel, this, &MainWindow::changeLabel);
    auto showSettings = [this] {
        connectionDialog->show();
        connectionDialog->raise();
        connectionDialog->activateWindow();
    };
    for (QAction *action : {ui->actionConnectSettings, ui->actionConnect}) {
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, showSettings);
    }

    recordingControl = new RecordingControl(this, registry, records, tools, [this] { live->startStop(); });
    recordingControl->wireMenu(ui->actionRecordingOpen, ui->actionRecordingClose);

    // Every processed sample of the display tick passes the recorder.
    tick.setRecorderHook([this](int d, int c, const StreamSample &sample) {
        if (records.isRecording())
            records.offer(c, sample, registry.stageDetectors.at(c));
        if (sampleObserver)
            sampleObserver(d, c, sample);
    });
}

GenericPlot *MainWindow::positionPlot(int stage) const { return plots.position[stage == 2 ? 1 : 0]; }
GenericPlot *MainWindow::timePlot(int stage) const { return plots.time[stage == 2 ? 1 : 0]; }
GenericPlot *MainWindow::intensityPlot(int stage) const { return plots.intensity[stage == 2 ? 1 : 0]; }
MainWindow::Parts MainWindow::parts() const
{
    return {tools, plotPanel, rates.get(), acquisition, live, recordingControl,
            help,  analysisSide, status,   params,      connectionDialog, streamError};
}

// ---- Menus ------------------------------------------------------

void MainWindow::on_actionExit_triggered()
{
    close();
}

void MainWindow::errorStreamStart()
{
    status->warn(QStringLiteral("Streaming error has occurred."));
    streamError->show();
    streamError->raise();
}

// ---- Window events ------------------------------------------------------------

void MainWindow::resizeGraphs()
{
    const int side = ui->framePosition->height();
    ui->framePosition->setMinimumWidth(side);
    ui->framePosition_2->setMinimumWidth(side);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    resizeGraphs();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The recording ends with its files complete; then every link is
    // stopped and removed before the window goes.
    recordingControl->finish();
    // The displayed streams stop first, then every controller closes, all
    // in parallel; each leaves the lists when its link has ended.
    live->stop();
    connectionDialog->removeAllConnections();
    // Links the dialog has no row for (handed over directly) go as well.
    for (int c = registry.count() - 1; c >= 0; --c)
        if (!registry.leaving.contains(registry.controllers.at(c)))
            controllerList->remove(registry.controllers.at(c)->address(), [](bool) {});
    live->close();
    help->closeAbout();
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            w->close();
    event->accept();
}
