#include "display/MainWindow.h"

#include "ui_mainwindow.h"

#include "about/InformationDialog.h"
#include "app/StartupFlags.h"
#include "display/ColorScalesFrame.h"
#include "display/Counter.h"
#include "display/GenericPlot.h"
#include "display/KV_ToolBar.h"
#include "display/PlotConfigurator.h"
#include "display/PointingStatistics.h"
#include "display/StreamControl.h"
#include "display/ThermoSlider.h"
#include "display/Zoomer.h"
#include "link/Connection.h"

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

#include <sys/time.h>

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
    , tick(registry, plots)
{
    qInfo() << "Constructing main window";
    initImages();
    ui->setupUi(this);
    resize(1064, 808);
    setMinimumSize(600, 450);

    // The service dialog is built separately; until it is wired in, its
    // entry is shown in service mode but cannot be chosen.
    serviceMenu = menuBar()->addMenu(QStringLiteral("Service"));
    serviceMenu->setObjectName(QStringLiteral("menuService"));
    QAction *operationTests = serviceMenu->addAction(QStringLiteral("Operation Tests"));
    operationTests->setObjectName(QStringLiteral("actionOperationTests"));
    operationTests->setEnabled(false);
    serviceMenu->menuAction()->setVisible(serviceMode);

    buildToolBar();

    displayTimer = new QTimer(this);
    displayTimer->setSingleShot(true); // every tick restarts it
    connect(displayTimer, &QTimer::timeout, this, &MainWindow::updateData);
    displayTimer->start(1000);

    setWindowTitle(QStringLiteral("ORX Beam Stabilization"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setContextMenuPolicy(Qt::NoContextMenu);

    onPalette.setColor(QPalette::Button, QColor("lightgreen"));
    offPalette.setColor(QPalette::Button, QColor("lightcoral"));
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

    stats = std::make_unique<PointingStatistics>(plots.position[0], plots.position[1]);
    stats->setUnitSource([this](int connection, int stage) {
        if (units.lengthUnit(stage) && connection >= 0 && connection < registry.count())
            return registry.stageDetectors.at(connection).stage(stage - 1)->unitText();
        return Detector().unitText();
    });
    tick.setStatistics(stats.get());
    clearStatistics();

    thermo[0] = ui->thermo_x;
    thermo[1] = ui->thermo_y;
    thermo[2] = ui->thermo_x_2;
    thermo[3] = ui->thermo_y_2;

    streamError = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Information"),
                                  QStringLiteral("Streaming error has occurred."), QMessageBox::Ok, this);
    streamError->setObjectName(QStringLiteral("streamErrorBox"));
    streamError->setInformativeText(QString());
    streamError->setModal(false);

    about = new InformationDialog(this);
    wireMenus();

    // Dialogs built elsewhere (connection settings, recording, parameters,
    // system configuration) are not part of this window yet: their entries
    // stay disabled.
    ui->actionDisconnect->setVisible(false);
    menuBar()->removeAction(ui->menuParameters->menuAction());
    multiplexBusy = false;
    ui->push_Stab1->setEnabled(false);
    ui->push_Stab2->setEnabled(false);
    setStageButton(1, false);
    setStageButton(2, false);
    tools->startAction()->setEnabled(false);
    tick.timeOrigin[0] = tick.timeOrigin[1] = 0;
    maxRate = ControllerRegistry::slowSerialMaxRate;
    setSingleControllerWidgetsVisible(false);
    qInfo() << "Finished constructing main window";
}

MainWindow::~MainWindow()
{
    qInfo() << "Destroying main window";
    if (!closing)
        stopDrawingPlots();
    if (displayTimer)
        displayTimer->stop();
    for (int i = registry.displayed.size() - 1; i >= 0; --i) {
        Connection *link = registry.connections.at(registry.displayed.at(i));
        if (link->linkState() == Connection::Connected && link->isStreaming())
            StreamControl::stopStream(link);
        registry.displayed.removeAt(i);
    }
    for (int c = registry.count() - 1; c >= 0; --c)
        delete registry.takeAt(c);
    qInfo() << "Finished destroying main window";
}

void MainWindow::buildToolBar()
{
    tools = new KV_ToolBar(this);
    addToolBar(Qt::TopToolBarArea, tools);
    connect(tools->startAction(), &QAction::triggered, this, &MainWindow::startStopDataAcquisition);
    connect(tools->clearAction(), &QAction::triggered, this, &MainWindow::resetPlotsAndDisplays);
    QRadioButton *pointing = tools->pointingMode();
    connect(pointing, &QRadioButton::toggled, this, &MainWindow::enableSamplesCounter);
    connect(pointing, &QRadioButton::toggled, this, &MainWindow::enableStatistics);
    connect(tools->samplesToTake(), &Counter::valueChanged, this, &MainWindow::updateSamplesToTake);
    showRunning(false);
}

void MainWindow::buildPlots()
{
    plots.position[0] = ui->plot_position;
    plots.position[1] = ui->plot_position_2;
    plots.time[0] = ui->plot_time;
    plots.time[1] = ui->plot_time_2;
    plots.intensity[0] = ui->plot_intensity;
    plots.intensity[1] = ui->plot_intensity_2;
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
    drawWhiteLine(10000);
    connect(ui->checkBox_statistics, &QCheckBox::toggled, this, &MainWindow::showStatistics1);
    connect(ui->checkBox_statistics_2, &QCheckBox::toggled, this, &MainWindow::showStatistics2);
    connect(ui->pushButton_resetZoomPosition, &QPushButton::clicked, this, &MainWindow::unZoomOsci1);
    connect(ui->pushButton_resetZoomPosition_2, &QPushButton::clicked, this, &MainWindow::unZoomOsci2);
    connect(ui->pushButton_resetZoomTime, &QPushButton::clicked, this, &MainWindow::unZoomPlot1);
    connect(ui->pushButton_resetZoomTime_2, &QPushButton::clicked, this, &MainWindow::unZoomPlot2);
}

void MainWindow::wireMenus()
{
    connect(ui->actionAboutSoftware, &QAction::triggered, this, &MainWindow::showAboutSoftwareDialog);
    connect(ui->actionManualSoftware, &QAction::triggered, this, &MainWindow::showUserManualSoftware);
    connect(ui->actionManualHardware, &QAction::triggered, this, &MainWindow::showUserManualHardware);
}

GenericPlot *MainWindow::positionPlot(int stage) const { return plots.position[stage == 2 ? 1 : 0]; }
GenericPlot *MainWindow::timePlot(int stage) const { return plots.time[stage == 2 ? 1 : 0]; }
GenericPlot *MainWindow::intensityPlot(int stage) const { return plots.intensity[stage == 2 ? 1 : 0]; }

bool MainWindow::isRunning() const
{
    return tools->startAction()->isChecked();
}

int MainWindow::updateInterval() const
{
    return int(1000.0 / tools->updateRate()->value());
}

void MainWindow::restartDisplayTimer()
{
    if (displayTimer && !closing)
        displayTimer->start(updateInterval());
}

// ---- Display tick ------------------------------------------------------

void MainWindow::updateData()
{
    QElapsedTimer duration;
    duration.start();
    applyUnits();
    checkTriggerRate();
    DisplayTick::Result result;
    if (tools->startAction()->isChecked() && tools->startAction()->isEnabled()) {
        result = tick.run(tools->samplingRate()->value(), units);
        if (result.numericsValid && registry.singleDisplayed() >= 0)
            showNumericDisplays();
        if (result.runFinished)
            stopDrawingPlots();
    }
    pollIdleStatus();
    syncStageWidgets();
    if (tickObserver)
        tickObserver(duration.nsecsElapsed(), result);
    restartDisplayTimer();
}

void MainWindow::showNumericDisplays()
{
    const int c = registry.singleDisplayed();
    const StageDetectors &models = registry.stageDetectors.at(c);
    QLCDNumber *lcds[6] = {ui->lcd_positionX, ui->lcd_positionY, ui->lcd_intensityValue,
                           ui->lcd_positionX_2, ui->lcd_positionY_2, ui->lcd_intensityValue_2};
    for (int i = 0; i < 6; ++i) {
        const int decimals = (i % 3 == 2) ? 2 : models.stage(i / 3)->displayDecimals();
        lcds[i]->display(QString::number(tick.average(i), 'f', units.lengthUnit(i / 3 + 1) ? decimals : 2));
    }
    for (int b = 0; b < 4; ++b)
        thermo[b]->setValue(tick.bar(b));
}

void MainWindow::applyUnits()
{
    units.update(registry);
    QLabel *position[2] = {ui->label_positionUnit, ui->label_positionUnit_2};
    QLabel *timeX[2] = {ui->label_timeX, ui->label_timeX_2};
    QLabel *timeY[2] = {ui->label_timeY, ui->label_timeY_2};
    QLabel *lcdX[2] = {ui->label_positionX, ui->label_positionX_2};
    QLabel *lcdY[2] = {ui->label_positionY, ui->label_positionY_2};
    for (int s = 0; s < 2; ++s) {
        const DisplayUnits::Stage &stage = units.stage(s + 1);
        const QString unit = stage.unit();
        const QString caption = QStringLiteral(" [") + unit + QLatin1Char(']');
        const double max = stage.model->rangeMaximum();
        const double min = stage.model->rangeMinimum();
        if (position[s]->text() == caption && positionRange[s][0] == max)
            continue;
        if (stage.lengthUnit == 0 && unit != Detector().unitText())
            continue;
        position[s]->setText(caption);
        timeX[s]->setText(QStringLiteral("X") + caption);
        timeY[s]->setText(QStringLiteral("Y") + caption);
        lcdX[s]->setText(QStringLiteral("Position x") + caption);
        lcdY[s]->setText(QStringLiteral("Position y") + caption);
        positionRange[s][0] = max;
        positionRange[s][1] = min;
        plots.time[s]->setAxisScale(QwtPlot::yLeft, min, max);
        plots.position[s]->setRange(max, min);
        plots.position[s]->resetZoom();
        plots.position[s]->clear();
        plots.time[s]->clear();
        plots.intensity[s]->clear();
        if (tools->pointingMode()->isChecked())
            clearStatistics();
    }
}

void MainWindow::checkTriggerRate()
{
    Counter *rate = tools->samplingRate();
    if (!triggerRateLock) {
        savedSamplingRate = rate->value();
        savedRateMaximum = rate->maximum();
    }
    if (registry.allDisplayedTriggered()) {
        if (!triggerRateLock) {
            triggerRateLock = true;
            rate->setMaximum(1000);
            rate->setValue(1000);
            rate->setEnabled(false);
        }
        return;
    }
    rate->setEnabled(!isRunning());
    if (triggerRateLock) {
        if (savedRateMaximum >= 1 && savedRateMaximum <= 1000)
            rate->setMaximum(savedRateMaximum);
        rate->setValue(savedSamplingRate);
        triggerRateLock = false;
    }
}

void MainWindow::pollIdleStatus()
{
    // Every request goes out before the first reply is awaited.
    QVector<bool> asked(registry.count(), false);
    for (int c = 0; c < registry.count(); ++c) {
        Connection *link = registry.connections.at(c);
        if (link->linkState() == Connection::Connected && !link->isStreaming()) {
            link->getStatusFlags();
            asked[c] = true;
        }
    }
    for (int c = 0; c < registry.count(); ++c) {
        Connection *link = registry.connections.at(c);
        ControllerStatus &status = registry.controllerStatus[c];
        status.label = link->label();
        status.address = link->address();
        if (asked[c]) {
            QByteArray reply;
            link->waitForReply(reply);
            if (reply.size() > 2) {
                StreamControl::applyStatusFlags(status, static_cast<unsigned char>(reply.at(2)));
                status.connected = true;
            }
        } else if (link->linkState() != Connection::Connected) {
            status.stabOn1 = status.stabOn2 = status.active1 = status.active2 = false;
            status.connected = false;
        }
    }
}

void MainWindow::syncStageWidgets()
{
    const int c = registry.singleDisplayed();
    if (c < 0)
        return;
    const ControllerStatus &status = registry.controllerStatus.at(c);
    setStageButton(1, status.stabOn1);
    setStageButton(2, status.stabOn2);
    setLamp(1, status.active1);
    setLamp(2, status.active2);
}

void MainWindow::setStageButton(int stage, bool on)
{
    QPushButton *button = stage == 2 ? ui->push_Stab2 : ui->push_Stab1;
    const QString text = on ? QStringLiteral("ON") : QStringLiteral("OFF");
    if (button->text() == text && button->isChecked() == on)
        return;
    button->setText(text);
    button->setPalette(on ? onPalette : offPalette);
    button->setChecked(on);
}

void MainWindow::setLamp(int stage, bool active)
{
    QLabel *lamp = stage == 2 ? ui->label_lamp_2 : ui->label_lamp;
    QLabel *text = stage == 2 ? ui->label_active_2 : ui->label_active;
    const QString wanted = active ? QStringLiteral("Active") : QStringLiteral("Inactive");
    if (text->text() == wanted)
        return;
    text->setText(wanted);
    lamp->setPixmap(QPixmap(active ? QStringLiteral(":/images/green_light.png")
                                   : QStringLiteral(":/images/red_light.png")));
}

// ---- Acquisition ---------------------------------------------------------

void MainWindow::startStopDataAcquisition()
{
    if (!tools->startAction()->isChecked()) {
        stopDrawingPlots();
        showRunning(false);
        return;
    }
    displayTimer->stop();
    const int rate = tools->samplingRate()->value();
    for (int c : registry.displayed)
        if (!StreamControl::startStream(registry.connections.at(c), rate))
            errorStreamStart();
    errors = 0;
    resetPlotsAndDisplays();
    stats->restartClock();
    if (tools->pointingMode()->isChecked()) {
        tick.samplesToTake = tools->samplesToTake()->value();
        if (tick.samplesTaken >= tick.samplesToTake) {
            tick.samplesTaken = 0;
            clearStatistics();
        }
    } else {
        tick.samplesToTake = -1;
    }
    startDrawingPlots();
    showRunning(true);
}

void MainWindow::startDrawingPlots()
{
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->start();
        plots.time[s]->start();
        plots.intensity[s]->start();
    }
}

void MainWindow::stopDrawingPlots()
{
    for (int c : registry.displayed) {
        Connection *link = registry.connections.at(c);
        if (link->linkState() == Connection::Connected)
            StreamControl::stopStream(link);
    }
    tools->startAction()->setChecked(false);
    showRunning(false);
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->stop();
        plots.time[s]->stop();
        plots.intensity[s]->stop();
        plots.position[s]->replot();
    }
}

void MainWindow::showRunning(bool running)
{
    if (tools->pointingMode()->isChecked())
        tools->samplesToTake()->setEnabled(true);
    tools->samplingRate()->setEnabled(!running && !triggerRateLock);
    QAction *start = tools->startAction();
    start->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    start->setChecked(running);
    start->setIcon(QIcon(running ? QStringLiteral(":/images/stop.xpm") : QStringLiteral(":/images/go.xpm")));
}

void MainWindow::resetPlotsAndDisplays()
{
    displayTimer->stop();
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->clear();
        plots.time[s]->clear();
        plots.intensity[s]->clear();
    }
    tick.restartSweeps(quint32(QDateTime::currentMSecsSinceEpoch()));
    clearStatistics();
    tick.clearAverages();
    for (QLCDNumber *lcd : findChildren<QLCDNumber *>())
        lcd->display(zeroText);
    for (ThermoSlider *bar : thermo)
        bar->setValue(0.0);
    restartDisplayTimer();
}

void MainWindow::enableSamplesCounter(bool on)
{
    tools->samplesToTake()->setEnabled(on);
    if (isRunning() && on) {
        tick.samplesToTake = tools->samplesToTake()->value();
        tick.samplesTaken = 0;
        stats->clear();
    } else {
        tick.samplesToTake = -1;
    }
}

void MainWindow::updateSamplesToTake(int value)
{
    tick.samplesToTake = value;
}

// ---- Statistics ------------------------------------------------------------

void MainWindow::updateStatistics(int count, int index, bool display)
{
    stats->update(count, index, tick.samplesTaken, display, tick.current);
}

void MainWindow::clearStatistics()
{
    tick.samplesTaken = 0;
    stats->clear();
}

void MainWindow::enableStatistics(bool on)
{
    if (!on) {
        ui->checkBox_statistics->setChecked(false);
        ui->checkBox_statistics_2->setChecked(false);
        stats->setShown(1, false);
        stats->setShown(2, false);
        ui->checkBox_statistics->setEnabled(false);
        ui->checkBox_statistics_2->setEnabled(false);
        return;
    }
    ui->checkBox_statistics->setEnabled(true);
    ui->checkBox_statistics_2->setEnabled(true);
    showStatistics1(ui->checkBox_statistics->isChecked());
    showStatistics2(ui->checkBox_statistics_2->isChecked());
}

void MainWindow::showStatistics1(bool on)
{
    stats->setShown(1, on, registry.singleDisplayed(), tick.samplesTaken);
}

void MainWindow::showStatistics2(bool on)
{
    stats->setShown(2, on, registry.singleDisplayed(), tick.samplesTaken);
}

// ---- Zoom ------------------------------------------------------------------

void MainWindow::unZoomOsci1()
{
    plots.position[0]->resetZoom();
    plots.position[0]->replot();
}

void MainWindow::unZoomOsci2()
{
    plots.position[1]->resetZoom();
    plots.position[1]->replot();
}

void MainWindow::unZoomPlot1()
{
    plots.time[0]->setAxisScale(QwtPlot::yLeft, positionRange[0][1], positionRange[0][0]);
    plots.time[0]->setAxisScale(QwtPlot::xTop, 0.0, PlotConfigurator::timeAxisSeconds);
    plots.time[0]->setAxisScale(QwtPlot::xBottom, 0.0, PlotConfigurator::timeAxisSeconds);
    plots.time[0]->replot();
    plots.intensity[0]->setAxisScale(QwtPlot::yLeft, 0.0, PlotConfigurator::intensityMax);
    plots.intensity[0]->replot();
}

void MainWindow::unZoomPlot2()
{
    plots.time[1]->setAxisScale(QwtPlot::yLeft, positionRange[1][1], positionRange[1][0]);
    plots.time[1]->setAxisScale(QwtPlot::xTop, 0.0, PlotConfigurator::timeAxisSeconds);
    plots.time[1]->setAxisScale(QwtPlot::xBottom, 0.0, PlotConfigurator::timeAxisSeconds);
    plots.time[1]->replot();
    plots.intensity[1]->setAxisScale(QwtPlot::yLeft, 0.0, PlotConfigurator::intensityMax);
    plots.intensity[1]->replot();
}

void MainWindow::drawWhiteLine(double width)
{
    PlotConfigurator::drawWhiteLine(plots.time[0], width);
    PlotConfigurator::drawWhiteLine(plots.time[1], width);
}

// ---- Menus, about, manuals ------------------------------------------------------

void MainWindow::on_actionExit_triggered()
{
    close();
}

void MainWindow::showAboutSoftwareDialog()
{
    about->show();
    about->raise();
}

void MainWindow::showUserManualSoftware()
{
    openManual(QStringLiteral("Manual_ORX-KV-Software_vers2.3.pdf"));
}

void MainWindow::showUserManualHardware()
{
    openManual(QStringLiteral("Manual_Talvix_Compact_en_vers15.pdf"));
}

void MainWindow::openManual(const QString &fileName)
{
    const QString path = QDir::currentPath().left(256) + QDir::separator() + fileName;
    if (!QFile::exists(path)) {
        auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("File not found"),
                                    QStringLiteral("Cannot open user manual.\n\nPlease check if the pdf file is in the program folder."),
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("manualNotFoundBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    QString url = QStringLiteral("file:///") + path;
    url.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!QDesktopServices::openUrl(QUrl(url))) {
        auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Error with opening user manual"),
                                    path, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}

void MainWindow::errorStreamStart()
{
    streamError->show();
    streamError->raise();
}

int MainWindow::gettimeofday(struct timeval *tv, struct timezone *tz)
{
    return ::gettimeofday(tv, tz);
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
    // Every link is stopped and removed before the window goes.
    for (int c = registry.count() - 1; c >= 0; --c)
        closedConnection(registry.connections.at(c)->address());
    closing = true;
    displayTimer->stop();
    stopDrawingPlots();
    about->close();
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            w->close();
    event->accept();
}
