#include "detectors/StageDetectors.h"

#include "detectors/DetectorFactory.h"

#include <utility>

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
    m_stages[stageIndex] = std::move(replacement);
}
