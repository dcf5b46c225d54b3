#pragma once

#include "ControllerWorker.h"

#include <tango.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Attributes of a BeamStabilizer, in the order of the attribute table.
enum class BeamAttribute : int {
    X1, Y1, X2, Y2,
    Intensity1, Intensity2,
    RangeX1, RangeY1, RangeX2, RangeY2,
    StabilizationOn1, StabilizationOn2, Active1, Active2,
    PFactor1, PFactor2, SamplingRate, EventRate,
    MeanX1, MeanY1, MeanX2, MeanY2, RMSRadius1, RMSRadius2, Headroom1, Headroom2,
    ControllerID, FirmwareVersion, SamplesReceived, SamplesLost,
    RawX1, RawY1, RawIntensity1, RawX2, RawY2, RawIntensity2,
    Count
};

// One Tango device per controller. Every attribute read is served from the
// worker's latest snapshot, so a read never waits for the controller;
// commands and written attributes are handed to the worker and waited for
// at most a little longer than the link's own reply deadline.
class BeamStabilizer : public Tango::Device_5Impl
{
public:
    BeamStabilizer(Tango::DeviceClass *cl, const char *name);
    ~BeamStabilizer() override;

    void init_device() override;
    void delete_device() override;
    void always_executed_hook() override;
    void read_attr_hardware(std::vector<long> &attributes) override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;

    // Attribute configuration from clients, with one refusal: the unit of a
    // position follows the controller's detector settings and is not theirs
    // to change (the values would stay in the detector's unit).
    void set_attribute_config_5(const Tango::AttributeConfigList_5 &config, const Tango::ClntIdent &client) override;
    void set_attribute_config_4(const Tango::AttributeConfigList_3 &config, const Tango::ClntIdent &client) override;
    void set_attribute_config_3(const Tango::AttributeConfigList_3 &config) override;
    void set_attribute_config(const Tango::AttributeConfigList &config) override;

    void readAttribute(BeamAttribute which, Tango::Attribute &attribute);
    void writeAttribute(BeamAttribute which, Tango::WAttribute &attribute);

    void start();
    void stop();
    void reconnect();
    void stabilizationOn(Tango::DevShort stage);
    void stabilizationOff(Tango::DevShort stage);

    static const char *attributeName(BeamAttribute which);
    // Whether an attribute is a position of a stage (0 or 1), in its unit.
    static bool isPosition(BeamAttribute which, int &stage);
    // ALARM while connected and a stage's piezo headroom warns; a link that
    // is down (FAULT) or opening (INIT) outranks it.
    static Tango::DevState stateOf(const ControllerSnapshot &snapshot);
    static std::string statusOf(const ControllerSnapshot &snapshot);
    static constexpr long rawMaximum = 10000;

private:
    void runRequest(ControllerWorker::Action action, int stage = 0, int value = 0);
    void applyUnits(const ControllerSnapshot &snapshot);
    template <typename List> void refuseUnitChanges(const List &config);
    // Checks a configuration from a client and, without a database, applies
    // it; false when Tango is to apply (and store) it.
    template <typename List> bool configureHere(const List &config);
    std::string configuredSetupFile();
    void queueEvents(const ControllerSnapshot &snapshot, bool periodHadSamples);
    void pushLoop();
    void pushEvents(const ControllerSnapshot &snapshot, bool periodHadSamples, bool stateChanged);

    std::unique_ptr<ControllerWorker> worker;
    std::string setupError; // a property that makes no sense: the device stays in FAULT

    // Values handed to Tango during one read request.
    ControllerSnapshot readSnapshot;
    std::vector<StreamSample> readRaw;
    Tango::DevDouble doubles[int(BeamAttribute::Count)] = {};
    Tango::DevLong longs[int(BeamAttribute::Count)] = {};
    Tango::DevLong64 longs64[int(BeamAttribute::Count)] = {};
    Tango::DevBoolean booleans[int(BeamAttribute::Count)] = {};
    std::string idText;
    Tango::DevString idPointer = nullptr;
    std::vector<Tango::DevLong> raw[6];
    std::string statusText;
    QString appliedUnit[2];

    // Event pushing runs in its own thread: it takes the device monitor,
    // which a command holds while it waits for the worker, so the worker
    // itself never waits for it.
    std::thread pusher;
    std::mutex pushLock;
    std::condition_variable pushWake;
    bool pushStop = false;
    bool pushPending = false;
    bool pushHadSamples = false;
    bool pushStateChanged = false;
    ControllerSnapshot pushSnapshot;
    Tango::DevState lastPushedState = Tango::UNKNOWN;
};
