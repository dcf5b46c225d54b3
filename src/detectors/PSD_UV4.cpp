#include "detectors/PSD_UV4.h"

double PSD_UV4::calculatePosition(double signal, double) const
{
    return finiteOrNaN(signal / 2.9);
}

int PSD_UV4::type() const
{
    return DetectorPSD_UV4;
}
