#pragma once

#include "detectors/QD.h"

// WID detector: signal x beamDiameter / 6.5 micrometres; display settings
// as QD. The intensity is not used.
class WID : public QD
{
public:
    double calculatePosition(double signal, double intensity) const override;
    int type() const override;
};
