#include "detectors/Detector.h"

#include <cmath>
#include <limits>

Detector::~Detector() = default;

double Detector::calculatePosition(double, double) const
{
    return 0.0;
}

bool Detector::usesBeamDiameter() const
{
    return false;
}

bool Detector::canAdjustTarget() const
{
    return false;
}

int Detector::type() const
{
    return DetectorNone;
}

int Detector::recordDecimals() const
{
    return 3;
}

int Detector::displayDecimals() const
{
    return 2;
}

double Detector::rangeMaximum() const
{
    return 5.0;
}

double Detector::rangeMinimum() const
{
    return -5.0;
}

int Detector::unitKind() const
{
    return UnitVolt;
}

QString Detector::unitText() const
{
    return QStringLiteral("V");
}

bool Detector::isValidPosition(double position)
{
    return std::isfinite(position);
}

double Detector::finiteOrNaN(double value)
{
    return std::isfinite(value) ? value : std::numeric_limits<double>::quiet_NaN();
}
