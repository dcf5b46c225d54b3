#include "display/JitterWindowLink.h"

#include "analysis_ui/JitterAnalysisWidget.h"
#include "controller/ControllerRegistry.h"
#include "display/DisplayTick.h"
#include "controller/DisplayUnits.h"
#include "link/Connection.h"
#include "link/StreamSample.h"

#include <QPushButton>

#include <array>
#include <cmath>

JitterWindowLink::JitterWindowLink(QWidget *mainWindow, DisplayTick &displayTick)
    : QObject(mainWindow)
    , owner(mainWindow)
    , tick(displayTick)
{
}

JitterWindowLink::~JitterWindowLink()
{
    tick.setSampleTap(nullptr);
}

JitterAnalysisWidget *JitterWindowLink::window()
{
    if (!analysis) {
        analysis = new JitterAnalysisWidget(owner);
        analysis->setObjectName(QStringLiteral("jitterAnalysisWindow"));
        analysis->setWindowFlag(Qt::Window);
    }
    return analysis;
}

void JitterWindowLink::openLive(const QString &controllerAddress, const QString &label, int samplingRate,
                                const QString &unit1, const QString &unit2)
{
    JitterAnalysisWidget *w = window();
    address = controllerAddress;
    rate = samplingRate;
    unit[0] = unit1;
    unit[1] = unit2;
    w->setWindowTitle(QStringLiteral("Jitter analysis: %1").arg(label.isEmpty() ? controllerAddress : label));
    w->startLive(rate, unit1, unit2);
    connection = -1; // found by the next tick
    wasStreaming = -1;
    tick.setSampleTap([this](int c, const double positions[4], const StreamSample &sample) {
        take(c, positions, sample);
    });
    w->show();
    w->raise();
    w->activateWindow();
}

void JitterWindowLink::openRecording()
{
    JitterAnalysisWidget *w = window();
    stopFeed();
    w->stopLive();
    w->setWindowTitle(QStringLiteral("Jitter analysis"));
    w->show();
    w->raise();
    if (QPushButton *open = w->findChild<QPushButton *>(QStringLiteral("pushButton_OpenRecording")))
        open->click();
}

void JitterWindowLink::stopFeed()
{
    connection = -1;
    address.clear();
    tick.setSampleTap(nullptr);
}

void JitterWindowLink::beforeTick(const ControllerRegistry &registry, const DisplayUnits &units)
{
    if (address.isEmpty())
        return;
    if (!analysis || !analysis->isVisible() || !analysis->isLive()) {
        if (analysis)
            analysis->stopLive();
        stopFeed();
        return;
    }
    connection = registry.indexOf(address);
    if (connection < 0) {
        analysis->stopLive();
        stopFeed();
        return;
    }
    // A new sampling rate or unit, or a pause in the stream, makes the
    // record so far a different series.
    const Connection *link = registry.link(connection);
    const int linkRate = link->samplingRate();
    const QString unit1 = units.stage(1).unit();
    const QString unit2 = units.stage(2).unit();
    const int streamingNow = link->isStreaming() ? 1 : 0;
    const bool restarted = wasStreaming == 0 && streamingNow == 1;
    wasStreaming = streamingNow;
    if ((linkRate > 0 && linkRate != rate) || unit1 != unit[0] || unit2 != unit[1] || restarted) {
        if (linkRate > 0)
            rate = linkRate;
        unit[0] = unit1;
        unit[1] = unit2;
        analysis->startLive(rate, unit1, unit2);
    }
}

void JitterWindowLink::take(int c, const double positions[4], const StreamSample &sample)
{
    if (c != connection)
        return;
    // A position the detector model cannot give would spoil every figure.
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(positions[i]))
            return;
    const std::array<double, 4> p{positions[0], positions[1], positions[2], positions[3]};
    const std::array<double, 4> r{sample.rangeX1 * 0.001, sample.rangeY1 * 0.001, sample.rangeX2 * 0.001,
                                  sample.rangeY2 * 0.001};
    analysis->appendSample(p, r);
}
