#include "BeamModel.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double LoopRate = 10000.0;        // internal loop steps per second
constexpr double DriftSigma = 100.0;        // mV per sqrt(s)
constexpr double DriftReversion = 0.02;     // 1/s, keeps the drift within about +-500 mV
constexpr double PositionNoise = 8.0;       // mV rms
constexpr double IntensityNoise = 15.0;     // mV rms
constexpr double ActuatorGain = 1.0;        // mV position per mV actuator
constexpr double ExternalPFactor = 400.0;   // used when the P-factor is 0
constexpr double ExternalSensitivity = 1000.0;
constexpr double MaxLoopCatchUp = 1.0;      // s of loop steps simulated after a long idle time

qint16 clamp16(double v)
{
    return qint16(std::lround(std::clamp(v, -32768.0, 32767.0)));
}
}

BeamModel::BeamModel(quint32 seed)
    : m_rng(seed)
{
    std::uniform_real_distribution<double> amp(120.0, 260.0);
    std::uniform_real_distribution<double> freq(20.0, 60.0);
    std::uniform_real_distribution<double> phase(0.0, 2 * M_PI);
    std::uniform_real_distribution<double> start(-300.0, 300.0);
    for (int s = 0; s < 2; ++s) {
        m_stage[s].nominalIntensity = s == 0 ? 4000 : 3800;
        for (Axis &a : m_stage[s].axis) {
            a.amplitude = amp(m_rng);
            a.omega = 2 * M_PI * freq(m_rng);
            a.phase = phase(m_rng);
            a.drift = start(m_rng);
        }
    }
}

double BeamModel::effectiveSensitivity(int s) const
{
    return m_stage[s].sensitivity == 0 ? ExternalSensitivity : m_stage[s].sensitivity;
}

bool BeamModel::loopRunning(int s) const
{
    return m_stage[s].stabOn && !m_stage[s].freeze && isActive(s);
}

double BeamModel::disturbance(int s, int axis, double t) const
{
    const Axis &a = m_stage[s].axis[axis];
    return a.offset + a.drift + a.amplitude * std::sin(a.omega * t + a.phase);
}

double BeamModel::position(int s, int axis) const
{
    const Axis &a = m_stage[s].axis[axis];
    return disturbance(s, axis, m_time) + ActuatorGain * (a.act - ActuatorMax / 2);
}

double BeamModel::target(int s, int axis) const
{
    const Axis &a = m_stage[s].axis[axis];
    return m_stage[s].hold ? a.holdTarget : a.adjustIn;
}

void BeamModel::startSetHold(int s)
{
    for (int axis = 0; axis < 2; ++axis)
        m_stage[s].axis[axis].holdTarget = position(s, axis);
    m_stage[s].hold = true;
}

void BeamModel::driveActuator(int s, int axis, int mV)
{
    m_stage[s].axis[axis].act = std::clamp(mV, 0, int(ActuatorMax));
}

void BeamModel::advance(double seconds)
{
    if (seconds <= 0)
        return;
    const double decay = std::exp(-DriftReversion * seconds);
    const double step = DriftSigma * std::sqrt(seconds);
    for (Stage &st : m_stage)
        for (Axis &a : st.axis)
            a.drift = a.drift * decay + step * gauss();

    const bool anyLoop = loopRunning(0) || loopRunning(1);
    if (!anyLoop) {
        m_time += seconds;
        return;
    }
    double loopTime = std::min(seconds, MaxLoopCatchUp);
    m_time += seconds - loopTime;
    const int steps = std::max(1, int(std::lround(loopTime * LoopRate)));
    const double dt = loopTime / steps;
    for (int k = 0; k < steps; ++k) {
        m_time += dt;
        for (int s = 0; s < 2; ++s) {
            if (!loopRunning(s))
                continue;
            const double p = m_stage[s].pFactor == 0 ? ExternalPFactor : m_stage[s].pFactor;
            const double gain = std::min(p / 1000.0, 1.0);
            for (int axis = 0; axis < 2; ++axis) {
                Axis &a = m_stage[s].axis[axis];
                const double err = target(s, axis) - position(s, axis);
                a.act = std::clamp(a.act + gain * err / ActuatorGain, 0.0, double(ActuatorMax));
            }
        }
    }
}

int BeamModel::intensity(int s)
{
    return int(std::clamp(m_stage[s].nominalIntensity + IntensityNoise * gauss(), 0.0, 65535.0));
}

BeamSample BeamModel::sample()
{
    BeamSample out;
    for (int s = 0; s < 2; ++s) {
        out.x[s] = clamp16(position(s, 0) + PositionNoise * gauss());
        out.y[s] = clamp16(position(s, 1) + PositionNoise * gauss());
        out.intensity[s] = quint16(intensity(s));
        out.rangeX[s] = qint16(actuator(s, 0));
        out.rangeY[s] = qint16(actuator(s, 1));
    }
    return out;
}
