#include "display/HeadroomMonitor.h"

#include "display/ThermoSlider.h"

#include <QBrush>
#include <QColor>

#include <cmath>

namespace {
const char *const axisName[4] = {"x, stage 1", "y, stage 1", "x, stage 2", "y, stage 2"};
const QColor normalFill(Qt::darkCyan);
const QColor warningFill(230, 90, 20);
constexpr double warnFraction = 0.1;
constexpr double warnSeconds = 600.0;

QString minutes(double seconds)
{
    if (seconds < 90)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 0);
    return QStringLiteral("%1 min").arg(seconds / 60.0, 0, 'f', 1);
}
} // namespace

bool HeadroomMonitor::offer(qint64 nowMs, const double volts[4])
{
    if (lastTaken >= 0 && nowMs - lastTaken < intervalMs)
        return false;
    if (lastTaken >= 0 && nowMs - lastTaken > 3 * intervalMs)
        reset();
    lastTaken = nowMs;
    for (int b = 0; b < 4; ++b) {
        std::vector<double> &h = history[b];
        if (h.size() >= std::size_t(historySeconds))
            h.erase(h.begin());
        h.push_back(volts[b]);
    }
    evaluate();
    return true;
}

void HeadroomMonitor::reset()
{
    for (std::vector<double> &h : history)
        h.clear();
    lastTaken = -1;
    for (int b = 0; b < 4; ++b) {
        state[b] = Headroom();
        warning[b] = false;
    }
}

bool HeadroomMonitor::follow(const QString &source)
{
    if (source == followed)
        return false;
    followed = source;
    reset();
    return true;
}

void HeadroomMonitor::evaluate()
{
    const double range = Headroom::highLimit - Headroom::lowLimit;
    for (int b = 0; b < 4; ++b) {
        const std::vector<double> &h = history[b];
        state[b] = Headroom::compute(h.data(), h.size(), 1000.0 / intervalMs, historySeconds);
        const Headroom &s = state[b];
        const bool near = s.valid && s.distance < warnFraction * range;
        const bool soon = s.valid && s.fitSpan >= minimumFitSeconds && s.secondsToLimit < warnSeconds;
        warning[b] = near || soon;
    }
}

QString HeadroomMonitor::toolTip(int b) const
{
    const Headroom &s = state[b];
    const QString name = QStringLiteral("Piezo range %1").arg(QLatin1String(axisName[b]));
    if (!s.valid)
        return name;
    QString text = QStringLiteral("%1: %2 V, %3 V from the %4 V limit")
                       .arg(name)
                       .arg(s.voltage, 0, 'f', 2)
                       .arg(s.distance, 0, 'f', 2)
                       .arg(s.nearestLimit, 0, 'f', 0);
    if (!warning[b])
        return text;
    text += QStringLiteral("\nHeadroom warning:");
    if (s.distance < warnFraction * (Headroom::highLimit - Headroom::lowLimit))
        text += QStringLiteral(" the actuator is within 10% of the end of its range.");
    if (s.fitSpan >= minimumFitSeconds && s.secondsToLimit < warnSeconds)
        text += QStringLiteral(" drifting %1 V/min, it reaches %2 V in about %3.")
                    .arg(s.drift * 60.0, 0, 'g', 2)
                    .arg(s.headingLimit, 0, 'f', 0)
                    .arg(minutes(s.secondsToLimit));
    return text;
}

void HeadroomMonitor::apply(ThermoSlider *const bars[4])
{
    for (int b = 0; b < 4; ++b) {
        const QString text = toolTip(b);
        if (text == shown[b])
            continue;
        shown[b] = text;
        bars[b]->setToolTip(text);
        const QColor fill = warning[b] ? warningFill : normalFill;
        if (bars[b]->fillBrush().color() != fill)
            bars[b]->setFillBrush(QBrush(fill));
    }
}
