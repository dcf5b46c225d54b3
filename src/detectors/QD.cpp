#include "detectors/QD.h"

#include <cmath>

double QD::inverseErf(double r)
{
    // 4.330746750923655 = 2 / (pi x a) and 6.802721088435375 = 1 / a, rounded
    // once and kept as they are so that positions stay comparable with
    // earlier recordings.
    const double l = std::log(1.0 - r) + std::log(1.0 + r);
    const double b = l * 0.5 + 4.330746750923655;
    const double k = l * 6.802721088435375;
    const double s = r < 0.0 ? -1.0 : 1.0;
    return s * std::sqrt(std::sqrt(b * b - k) - b);
}

double QD::calculatePosition(double signal, double intensity) const
{
    const double r = signal / intensity;
    return finiteOrNaN(inverseErf(r) * beamDiameter / (2.0 * std::sqrt(2.0)));
}

bool QD::usesBeamDiameter() const
{
    return true;
}

bool QD::canAdjustTarget() const
{
    return false;
}

int QD::type() const
{
    return DetectorQD;
}

int QD::recordDecimals() const
{
    return showsLength() ? 2 : 3;
}

int QD::displayDecimals() const
{
    return showsLength() ? 1 : 2;
}

double QD::rangeMaximum() const
{
    return showsLength() ? beamDiameter * 0.5 : 5.0;
}

double QD::rangeMinimum() const
{
    return showsLength() ? beamDiameter * -0.5 : -5.0;
}

int QD::unitKind() const
{
    return showsLength() ? UnitMicrometre : UnitVolt;
}

QString QD::unitText() const
{
    return showsLength() ? QStringLiteral("µm") : QStringLiteral("V");
}
