#pragma once

#include "detectors/Detector.h"

// Position-sensitive detector: millimetres, signal / 1.2, axis ±4.5 mm.
// The UV variants derive from it and differ only in divisor and type.
class PSD : public Detector
{
public:
    double calculatePosition(double signal, double intensity) const override;
    bool usesBeamDiameter() const override;
    bool canAdjustTarget() const override;
    int type() const override;
    int recordDecimals() const override;
    int displayDecimals() const override;
    double rangeMaximum() const override;
    double rangeMinimum() const override;
    int unitKind() const override;
    QString unitText() const override;
};
