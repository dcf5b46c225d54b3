#pragma once

#include "detectors/Detector.h"

// Quadrant detector: micrometres from the ratio of position signal to
// intensity and the beam diameter, axis ±beamDiameter / 2.
class QD : public Detector
{
public:
    // erfinv(signal / intensity) x beamDiameter / (2 x sqrt(2)); NaN when the
    // ratio is not strictly inside (-1, 1) or not a number.
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

    // Winitzki's closed-form approximation of the inverse error function
    // (a = 0.147). Infinite at ±1, NaN outside [-1, 1].
    static double inverseErf(double r);
};
