#include "analysis/HeadroomTracker.h"

namespace {
const char *const axisNames[4] = {"x, stage 1", "y, stage 1", "x, stage 2", "y, stage 2"};

QString minutes(double seconds)
{
    if (seconds < 90)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 0);
    return QStringLiteral("%1 min").arg(seconds / 60.0, 0, 'f', 1);
}
} // namespace

QString HeadroomTracker::axisName(int b)
{
    return QLatin1String(axisNames[b]);
}

bool HeadroomTracker::offer(qint64 nowMs, const double volts[4])
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

void HeadroomTracker::reset()
{
    for (std::vector<double> &h : history)
        h.clear();
    lastTaken = -1;
    for (int b = 0; b < 4; ++b) {
        state[b] = Headroom();
        nearLimit[b] = headingForLimit[b] = false;
    }
}

bool HeadroomTracker::follow(const QString &source)
{
    if (source == followed)
        return false;
    followed = source;
    reset();
    return true;
}

bool HeadroomTracker::anyWarning() const
{
    for (int b = 0; b < 4; ++b)
        if (isWarning(b))
            return true;
    return false;
}

void HeadroomTracker::evaluate()
{
    const double range = Headroom::highLimit - Headroom::lowLimit;
    for (int b = 0; b < 4; ++b) {
        const std::vector<double> &h = history[b];
        state[b] = Headroom::compute(h.data(), h.size(), 1000.0 / intervalMs, historySeconds);
        const Headroom &s = state[b];
        nearLimit[b] = s.valid && s.distance < warnFraction * range;
        headingForLimit[b] = s.valid && s.fitSpan >= minimumFitSeconds && s.secondsToLimit < warnSeconds;
    }
}

QString HeadroomTracker::reason(int b) const
{
    const Headroom &s = state[b];
    QString text;
    if (nearLimit[b])
        text += QStringLiteral(" the actuator is within 10% of the end of its range.");
    if (headingForLimit[b])
        text += QStringLiteral(" drifting %1 V/min, it reaches %2 V in about %3.")
                    .arg(s.drift * 60.0, 0, 'g', 2)
                    .arg(s.headingLimit, 0, 'f', 0)
                    .arg(minutes(s.secondsToLimit));
    return text.trimmed();
}

QString HeadroomTracker::description(int b) const
{
    const Headroom &s = state[b];
    const QString name = QStringLiteral("Piezo range %1").arg(axisName(b));
    if (!s.valid)
        return name;
    QString text = QStringLiteral("%1: %2 V, %3 V from the %4 V limit")
                       .arg(name)
                       .arg(s.voltage, 0, 'f', 2)
                       .arg(s.distance, 0, 'f', 2)
                       .arg(s.nearestLimit, 0, 'f', 0);
    if (isWarning(b))
        text += QStringLiteral("\nHeadroom warning: ") + reason(b);
    return text;
}
