#pragma once

#include "detectors/PSD.h"

// UV position-sensitive detector (10 mm): signal / 1.1 gives millimetres;
// everything else as PSD.
class PSD_UV10 : public PSD
{
public:
    double calculatePosition(double signal, double intensity) const override;
    int type() const override;
};
