#include "detectors/DetectorFactory.h"

#include "detectors/PSD.h"
#include "detectors/PSD_UV10.h"
#include "detectors/PSD_UV4.h"
#include "detectors/QD.h"
#include "detectors/WID.h"

namespace {

std::unique_ptr<Detector> newModel(int type)
{
    switch (type) {
    case DetectorQD:
        return std::make_unique<QD>();
    case DetectorPSD:
        return std::make_unique<PSD>();
    case DetectorWID:
        return std::make_unique<WID>();
    case DetectorPSD_UV4:
        return std::make_unique<PSD_UV4>();
    case DetectorPSD_UV10:
        return std::make_unique<PSD_UV10>();
    default:
        return std::make_unique<Detector>();
    }
}

} // namespace

std::unique_ptr<Detector> createDetector(int type, const Detector &source)
{
    std::unique_ptr<Detector> model = newModel(type);
    // Assigning through the base copies only the shared settings.
    static_cast<Detector &>(*model) = source;
    return model;
}

std::unique_ptr<Detector> createDetector(int type)
{
    return newModel(type);
}

bool isKnownDetectorType(int type)
{
    return type >= DetectorNone && type <= DetectorPSD_UV10;
}
