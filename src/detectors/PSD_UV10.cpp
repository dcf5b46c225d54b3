#include "detectors/PSD_UV10.h"

double PSD_UV10::calculatePosition(double signal, double) const
{
    return finiteOrNaN(signal / 1.1);
}

int PSD_UV10::type() const
{
    return DetectorPSD_UV10;
}
