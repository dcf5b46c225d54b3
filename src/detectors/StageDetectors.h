#pragma once

#include "detectors/Detector.h"

#include <memory>

// The two detector models of one controller (stage index 0 = stage 1,
// 1 = stage 2) and its trigger display flag. The entry owns both models and
// is never without them; the accessors never return null.
class StageDetectors
{
public:
    static constexpr int stageCount = 2;

    // Builds the entry from stored settings (a setup record's "model",
    // "beamDiameter" and "calculation" of each stage and "pulsedLaser").
    // For a quadrant or WID detector a beam diameter that is not a positive
    // finite number (0, negative, missing from the file, NaN) is replaced by
    // the default 50 µm, with a warning in the log; setDetector() does the
    // same when a stage switches to such a detector.
    StageDetectors(int stage1Type, double stage1BeamDiameter, int stage1Calculation,
                   int stage2Type, double stage2BeamDiameter, int stage2Calculation,
                   bool triggerDisplay);
    // Two base models (no detector chosen, 50 µm, volts), no trigger display.
    StageDetectors();
    // Deep copy: each model keeps its class and settings.
    StageDetectors(const StageDetectors &other);
    StageDetectors &operator=(const StageDetectors &other);
    // Deletes stage 1's model, then stage 2's.
    ~StageDetectors();

    Detector *stage1() const { return m_stages[0].get(); }
    Detector *stage2() const { return m_stages[1].get(); }
    // Model at a stage index; an index other than 0 or 1 gives null.
    Detector *stage(int stageIndex) const;

    // Replaces the model of one stage by a model of another type number,
    // keeping beamDiameter and calculation. An invalid stage index is ignored.
    void setDetector(int stageIndex, int type);

    bool triggerDisplay = false; // "Display low repetition rates with triggers"

private:
    std::unique_ptr<Detector> m_stages[stageCount];
};
