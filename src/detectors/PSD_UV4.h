#pragma once

#include "detectors/PSD.h"

// UV position-sensitive detector (4 mm): signal / 2.9 gives millimetres;
// everything else as PSD.
class PSD_UV4 : public PSD
{
public:
    double calculatePosition(double signal, double intensity) const override;
    int type() const override;
};
