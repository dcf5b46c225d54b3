#include "detectors/WID.h"

double WID::calculatePosition(double signal, double) const
{
    return finiteOrNaN(signal * beamDiameter / 6.5);
}

int WID::type() const
{
    return DetectorWID;
}
