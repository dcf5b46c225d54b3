#pragma once

#include "detectors/Detector.h"

#include <QString>

class ControllerRegistry;

// The unit each stage is shown in. A stage shows lengths only when every
// displayed controller converts that stage to the same length unit; then the
// reference detector (range and unit text of the axes) is the active
// controller's, or the one with the largest beam diameter where the model
// depends on it. Otherwise the stage shows volts.
class DisplayUnits
{
public:
    struct Stage {
        int lengthUnit = 0;        // 1 = length, 0 = volts
        Detector reference;        // volts when no length is shown
        const Detector *model = nullptr; // the reference model (or &reference)
        QString unit() const { return model->unitText(); }
    };

    // Recomputes both stages from the displayed controllers.
    void update(const ControllerRegistry &registry);
    const Stage &stage(int s) const { return s == 2 ? stages[1] : stages[0]; }
    int lengthUnit(int s) const { return stage(s).lengthUnit; }

private:
    Stage stages[2];
};
