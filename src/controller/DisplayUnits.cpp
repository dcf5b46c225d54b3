#include "controller/DisplayUnits.h"

#include "controller/ControllerRegistry.h"

void DisplayUnits::update(const ControllerRegistry &registry)
{
    const QList<int> &shown = registry.displayed;
    for (int s = 0; s < 2; ++s) {
        Stage &stage = stages[s];
        stage.lengthUnit = 0;
        if (!shown.isEmpty()) {
            const int kind = registry.stageDetectors.at(shown.first()).stage(s)->unitKind();
            bool same = true;
            for (int d : shown) {
                const Detector *model = registry.stageDetectors.at(d).stage(s);
                if (model->calculation == 0 || model->unitKind() != kind)
                    same = false;
            }
            stage.lengthUnit = same ? 1 : 0;
        }
        const int active = registry.activeIndex >= 0 ? registry.activeIndex : (shown.isEmpty() ? -1 : shown.first());
        stage.model = (stage.lengthUnit && active >= 0) ? registry.stageDetectors.at(active).stage(s)
                                                        : &stage.reference;
    }
    // Models whose range depends on the beam diameter take the largest one
    // among the displayed controllers, so every trace fits the axes.
    if (shown.isEmpty() || !(stages[0].model->usesBeamDiameter() || stages[1].model->usesBeamDiameter()))
        return;
    for (int s = 0; s < 2; ++s) {
        if (!stages[s].lengthUnit)
            continue;
        const Detector *largest = registry.stageDetectors.at(shown.first()).stage(s);
        for (int i = 1; i < shown.size(); ++i) {
            const Detector *model = registry.stageDetectors.at(shown.at(i)).stage(s);
            if (model->beamDiameter > largest->beamDiameter)
                largest = model;
        }
        if (largest->beamDiameter > stages[s].model->beamDiameter)
            stages[s].model = largest;
    }
}
