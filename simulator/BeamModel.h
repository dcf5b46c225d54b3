#pragma once

#include <QtGlobal>
#include <random>

// One measured set of values, as the controller reports it (millivolts).
struct BeamSample
{
    qint16 x[2] = {0, 0};
    qint16 y[2] = {0, 0};
    quint16 intensity[2] = {0, 0};
    qint16 rangeX[2] = {0, 0};
    qint16 rangeY[2] = {0, 0};
};

// Physical model of the two stages of a controller. Each stage sees a beam
// that drifts (mean-reverting random walk), vibrates (one sine per axis at a
// few tens of Hz) and carries detector noise. Two piezo actuators (0..10 V)
// move the beam on the detector; with stabilisation on and the stage active
// (intensity above the sensitivity threshold) an integrating loop running at
// 10 kHz drives the actuators so the position follows the target (adjust-in
// value, or the Set & Hold position while that is set). The P-factor is the
// loop gain. Everything advances in simulated time and is deterministic for a
// given seed.
class BeamModel
{
public:
    static constexpr int ActuatorMax = 10000;   // mV
    static constexpr int DefaultPFactor = 400;
    static constexpr int DefaultSensitivity = 1000;

    explicit BeamModel(quint32 seed = 1);

    void advance(double seconds);
    double time() const { return m_time; }
    BeamSample sample();

    // Stage index s is 0 or 1, axis 0 = x, 1 = y.
    void setStabilization(int s, bool on) { m_stage[s].stabOn = on; }
    bool stabilization(int s) const { return m_stage[s].stabOn; }
    bool isActive(int s) const { return m_stage[s].nominalIntensity > effectiveSensitivity(s); }
    void setPFactor(int s, int p) { m_stage[s].pFactor = p; }
    int pFactor(int s) const { return m_stage[s].pFactor; }
    void setAdjustIn(int s, int axis, int mV) { m_stage[s].axis[axis].adjustIn = mV; }
    int adjustIn(int s, int axis) const { return m_stage[s].axis[axis].adjustIn; }
    void startSetHold(int s);
    void clearSetHold(int s) { m_stage[s].hold = false; }
    bool setHold(int s) const { return m_stage[s].hold; }
    void setSensitivity(int s, int mV) { m_stage[s].sensitivity = mV; }
    int sensitivity(int s) const { return m_stage[s].sensitivity; }
    void setMultiplex(int s, bool on) { m_stage[s].multiplex = on; }
    bool multiplex(int s) const { return m_stage[s].multiplex; }
    void setFreeze(int s, bool on) { m_stage[s].freeze = on; }
    bool freeze(int s) const { return m_stage[s].freeze; }
    void driveActuator(int s, int axis, int mV);
    // A fixed displacement of the beam on the detector (a misaligned beam),
    // added to the drift; with stabilisation on the loop takes it up, and
    // beyond about +-5000 mV the actuator runs into the end of its range.
    void setOffset(int s, int axis, int mV) { m_stage[s].axis[axis].offset = mV; }
    int offset(int s, int axis) const { return m_stage[s].axis[axis].offset; }

    double position(int s, int axis) const;     // true position without detector noise
    int actuator(int s, int axis) const { return int(m_stage[s].axis[axis].act + 0.5); }
    int intensity(int s);                       // with noise

private:
    struct Axis
    {
        double drift = 0;
        double act = ActuatorMax / 2;
        double amplitude = 0;
        double omega = 0;
        double phase = 0;
        int adjustIn = 0;
        double holdTarget = 0;
        int offset = 0;
    };
    struct Stage
    {
        Axis axis[2];
        bool stabOn = false;
        bool hold = false;
        bool multiplex = false;
        bool freeze = false;
        int pFactor = DefaultPFactor;
        int sensitivity = DefaultSensitivity;
        double nominalIntensity = 4000;
    };

    bool loopRunning(int s) const;
    double effectiveSensitivity(int s) const;
    double disturbance(int s, int axis, double t) const;
    double target(int s, int axis) const;
    double gauss() { return m_normal(m_rng); }

    Stage m_stage[2];
    double m_time = 0;
    std::mt19937 m_rng;
    std::normal_distribution<double> m_normal{0.0, 1.0};
};
