#include "detectors/StageDetectors.h"

#include "detectors/DetectorFactory.h"

#include <QDebug>

#include <cmath>
#include <utility>

namespace {

// A stored diameter of 0, a negative one or one that is not a number would
// give the quadrant family a 0..0 or inverted axis and positions of 0 or
// NaN; for a model that uses the diameter such a value is replaced by the
// default and the replacement logged. Other models ignore it until the stage
// is switched to one that uses it (setDetector checks again).
void ensureUsableBeamDiameter(Detector &model, int stageIndex)
{
    if (!model.usesBeamDiameter() || (std::isfinite(model.beamDiameter) && model.beamDiameter > 0.0))
        return;
    const double fallback = Detector().beamDiameter;
    qWarning().noquote() << QStringLiteral("Beam diameter %1 of stage %2 is not a positive number; using %3 µm")
                                .arg(model.beamDiameter).arg(stageIndex + 1).arg(fallback);
    model.beamDiameter = fallback;
}

} // namespace

StageDetectors::StageDetectors()
    : m_stages{std::make_unique<Detector>(), std::make_unique<Detector>()}
{
}

StageDetectors::StageDetectors(int stage1Type, double stage1BeamDiameter, int stage1Calculation,
                               int stage2Type, double stage2BeamDiameter, int stage2Calculation,
                               bool triggerDisplay)
    : StageDetectors()
{
    this->triggerDisplay = triggerDisplay;
    setDetector(0, stage1Type);
    m_stages[0]->calculation = stage1Calculation;
    m_stages[0]->beamDiameter = stage1BeamDiameter;
    setDetector(1, stage2Type);
    m_stages[1]->calculation = stage2Calculation;
    m_stages[1]->beamDiameter = stage2BeamDiameter;
    for (int i = 0; i < stageCount; ++i)
        ensureUsableBeamDiameter(*m_stages[i], i);
}

StageDetectors::StageDetectors(const StageDetectors &other)
    : triggerDisplay(other.triggerDisplay)
{
    for (int i = 0; i < stageCount; ++i)
        m_stages[i] = createDetector(other.m_stages[i]->type(), *other.m_stages[i]);
}

StageDetectors &StageDetectors::operator=(const StageDetectors &other)
{
    // Build the copy first so a failure leaves this entry untouched, and
    // self-assignment works.
    StageDetectors copy(other);
    for (int i = 0; i < stageCount; ++i)
        std::swap(m_stages[i], copy.m_stages[i]);
    triggerDisplay = copy.triggerDisplay;
    return *this;
}

StageDetectors::~StageDetectors()
{
    m_stages[0].reset();
    m_stages[1].reset();
}

Detector *StageDetectors::stage(int stageIndex) const
{
    if (stageIndex < 0 || stageIndex >= stageCount)
        return nullptr;
    return m_stages[stageIndex].get();
}

void StageDetectors::setDetector(int stageIndex, int type)
{
    if (stageIndex < 0 || stageIndex >= stageCount)
        return;
    std::unique_ptr<Detector> replacement = createDetector(type, *m_stages[stageIndex]);
    ensureUsableBeamDiameter(*replacement, stageIndex);
    m_stages[stageIndex] = std::move(replacement);
}
