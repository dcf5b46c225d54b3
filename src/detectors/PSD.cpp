#include "detectors/PSD.h"

double PSD::calculatePosition(double signal, double) const
{
    return finiteOrNaN(signal / 1.2);
}

bool PSD::usesBeamDiameter() const
{
    return false;
}

bool PSD::canAdjustTarget() const
{
    return true;
}

int PSD::type() const
{
    return DetectorPSD;
}

int PSD::recordDecimals() const
{
    return showsLength() ? 4 : 3;
}

int PSD::displayDecimals() const
{
    return showsLength() ? 3 : 2;
}

double PSD::rangeMaximum() const
{
    return showsLength() ? 4.5 : 5.0;
}

double PSD::rangeMinimum() const
{
    return showsLength() ? -4.5 : -5.0;
}

int PSD::unitKind() const
{
    return showsLength() ? UnitMillimetre : UnitVolt;
}

QString PSD::unitText() const
{
    return showsLength() ? QStringLiteral("mm") : QStringLiteral("V");
}
