#pragma once

#include <QString>

// Detector type numbers. The same numbers are stored under the key "model"
// in the connection setup file and offered by the detector selection.
enum DetectorType : int {
    DetectorNone = 0,    // no detector chosen: base Detector
    DetectorQD = 1,      // quadrant detector
    DetectorPSD = 2,     // position-sensitive detector
    DetectorWID = 3,     // WID detector
    DetectorPSD_UV4 = 4, // UV PSD, 4 mm
    DetectorPSD_UV10 = 5 // UV PSD, 10 mm
};

// Unit of the positions a model produces (compared across controllers to
// decide whether a common length unit can be shown).
enum DetectorUnitKind : int {
    UnitVolt = 0,
    UnitMicrometre = 1,
    UnitMillimetre = 2
};

// Model of a stage's position detector: turns the position signal and the
// intensity (both in volts) into a beam position in a length unit and tells
// the display how to show it. This base class is the model used when no
// detector type is chosen; it has no length unit and always reports volts.
//
// Positions without a finite result: calculatePosition() never returns an
// infinity. Whenever the inputs do not give a finite position (for the
// quadrant detector |signal| >= intensity or intensity 0; for every model a
// NaN or infinite input) it returns a quiet NaN. Callers test the result
// with isValidPosition() and treat an invalid position as "no position":
// plots and statistics skip the sample and a recorder writes it as "nan"
// rather than a made-up value at an axis end.
class Detector
{
public:
    Detector() = default;
    Detector(const Detector &) = default;
    Detector &operator=(const Detector &) = default;
    virtual ~Detector();

    // Position in the model's length unit; NaN when there is none (see above).
    virtual double calculatePosition(double signal, double intensity) const;
    virtual bool usesBeamDiameter() const;
    // The target position can be set (Set & Hold and adjust-in are offered).
    virtual bool canAdjustTarget() const;
    virtual int type() const;
    // Decimals of a position written to a recording file.
    virtual int recordDecimals() const;
    // Decimals of the numeric position displays.
    virtual int displayDecimals() const;
    virtual double rangeMaximum() const;
    virtual double rangeMinimum() const;
    // One of DetectorUnitKind.
    virtual int unitKind() const;
    virtual QString unitText() const;

    // True for every position calculatePosition() can return except NaN.
    static bool isValidPosition(double position);

    // True when positions are shown in the length unit rather than in volts.
    bool showsLength() const { return calculation != 0; }

    double beamDiameter = 50.0; // µm; used by the quadrant family
    int calculation = 0;        // 0 = volts, non-zero = length unit

protected:
    // NaN for any non-finite value, the value itself otherwise.
    static double finiteOrNaN(double value);
};
