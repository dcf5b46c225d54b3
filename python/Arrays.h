#pragma once

// Python's headers before Qt's: Qt's "slots" keyword clashes with them.
#include <pybind11/pybind11.h>

#include "analysis/JitterAnalysis.h"
#include "analysis/RecordReader.h"
#include "link/StreamSample.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

// One row of a stream as NumPy sees it: the columns of a recording (ms since
// the stream's first sample, positions in volts as the controller sends
// them, intensities and actuator voltages in volts), the stream flags and
// the sample's number in the stream as received.
struct SampleRow
{
    int64_t ms;
    double x1, y1, i1, x2, y2, i2, rx1, ry1, rx2, ry2;
    bool stab1, stab2, active1, active2, mux1, mux2;
    int64_t n;
};

namespace beamstab {

// Registers SampleRow's dtype, once, at the first stream (so that the
// module imports, and its other parts work, where NumPy is missing).
void registerSampleDtype();

// Rows of samples[from, from + count); firstTime is the arrival time of the
// stream's first sample, firstIndex the number of samples[from].
pybind11::array sampleArray(const std::vector<StreamSample> &samples, std::size_t from, std::size_t count,
                            int32_t firstTime, int64_t firstIndex);

// A recording's columns as a structured array (names lower case without
// their units, every value a double) and its .json as a dict with the
// column units added under "units".
pybind11::tuple recordingTuple(const RecordTable &table);

// The figures of one axis as the command-line analysis reports them.
pybind11::dict axisFigures(const JitterAnalysis::Axis &axis);

// The controller sequence numbers of a stream of a simulated controller in
// benchmark mode (kept in the stage-2 positions, exact in volts).
pybind11::array_t<uint32_t> benchSequence(const pybind11::array &rows);

} // namespace beamstab
