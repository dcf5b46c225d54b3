#pragma once

#include "detectors/Detector.h"

#include <memory>

// Creates the model of the class for a type number (DetectorType) as a copy
// of source: beamDiameter and calculation carry over. A type outside 0 to 5
// gives a base Detector, so a caller always gets a usable model.
std::unique_ptr<Detector> createDetector(int type, const Detector &source);

// Same with the default settings (beam diameter 50 µm, volts).
std::unique_ptr<Detector> createDetector(int type);

// True for the type numbers 0 to 5.
bool isKnownDetectorType(int type);
