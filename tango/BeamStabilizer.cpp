#include "BeamStabilizer.h"

#include "DeviceProperties.h"
#include "TangoLogging.h"

#include <QDebug>

#include <omnithread.h>

#include <chrono>
#include <cmath>
#include <limits>

namespace {

const char *const names[] = {
    "X1", "Y1", "X2", "Y2",
    "Intensity1", "Intensity2",
    "RangeX1", "RangeY1", "RangeX2", "RangeY2",
    "StabilizationOn1", "StabilizationOn2", "Active1", "Active2",
    "PFactor1", "PFactor2", "SamplingRate", "EventRate",
    "MeanX1", "MeanY1", "MeanX2", "MeanY2", "RMSRadius1", "RMSRadius2", "Headroom1", "Headroom2",
    "ControllerID", "FirmwareVersion", "SamplesReceived", "SamplesLost",
    "RawX1", "RawY1", "RawIntensity1", "RawX2", "RawY2", "RawIntensity2",
};
static_assert(sizeof(names) / sizeof(names[0]) == std::size_t(BeamAttribute::Count), "one name per attribute");

// The wait of a command for the worker: the link's reply deadline (1.5 s)
// plus room for the stream stop and restart around it, but below the 3 s a
// Tango client waits by default.
constexpr int commandWaitMs = 2500;

} // namespace

bool BeamStabilizer::isPosition(BeamAttribute a, int &stage)
{
    switch (a) {
    case BeamAttribute::X1: case BeamAttribute::Y1: case BeamAttribute::MeanX1:
    case BeamAttribute::MeanY1: case BeamAttribute::RMSRadius1:
        stage = 0;
        return true;
    case BeamAttribute::X2: case BeamAttribute::Y2: case BeamAttribute::MeanX2:
    case BeamAttribute::MeanY2: case BeamAttribute::RMSRadius2:
        stage = 1;
        return true;
    default:
        return false;
    }
}

BeamStabilizer::BeamStabilizer(Tango::DeviceClass *cl, const char *name) : Tango::Device_5Impl(cl, name)
{
    init_device();
}

BeamStabilizer::~BeamStabilizer()
{
    delete_device();
}

const char *BeamStabilizer::attributeName(BeamAttribute which)
{
    return names[int(which)];
}

Tango::DevState BeamStabilizer::stateOf(const ControllerSnapshot &snapshot)
{
    const bool alarm = snapshot.anyHeadroomWarning();
    switch (snapshot.link) {
    case ControllerSnapshot::Link::Connecting: return Tango::INIT;
    case ControllerSnapshot::Link::Idle: return alarm ? Tango::ALARM : Tango::ON;
    case ControllerSnapshot::Link::Streaming: return alarm ? Tango::ALARM : Tango::RUNNING;
    case ControllerSnapshot::Link::Fault: return Tango::FAULT;
    }
    return Tango::UNKNOWN;
}

std::string BeamStabilizer::statusOf(const ControllerSnapshot &snapshot)
{
    if (stateOf(snapshot) != Tango::ALARM)
        return snapshot.statusText.toStdString();
    return (snapshot.statusText + '\n' + snapshot.headroomText).toStdString();
}

void BeamStabilizer::init_device()
{
    std::map<std::string, std::string> values;
    if (Tango::Util::_UseDb) {
        Tango::DbData data;
        for (const std::string &n : DeviceProperties::names())
            data.push_back(Tango::DbDatum(n));
        get_db_device()->get_property(data);
        for (std::size_t i = 0; i < data.size(); ++i) {
            if (data[i].is_empty())
                continue;
            std::string v;
            data[i] >> v;
            values[DeviceProperties::names()[i]] = v;
        }
    }
    for (const auto &entry : DeviceProperties::overridesFor(get_name()))
        values[entry.first] = entry.second;
    if (values["SetupFile"].empty())
        values["SetupFile"] = configuredSetupFile();

    ControllerOptions options;
    setupError.clear();
    if (!DeviceProperties::toOptions(values, options, setupError)) {
        set_state(Tango::FAULT);
        set_status(setupError);
        return;
    }
    set_change_event("State", true, false);
    set_archive_event("State", true, false);

    pushStop = false;
    pusher = std::thread(&BeamStabilizer::pushLoop, this);
    worker.reset(new ControllerWorker(options));
    worker->setPeriodHandler([this](const ControllerSnapshot &s, bool had) { queueEvents(s, had); });
    // What the worker and its links report goes to this device's logger.
    worker->setThreadHandler([this](const QThread *thread, bool working) {
        if (working)
            TangoLogging::route(thread, this);
        else
            TangoLogging::unroute(thread);
    });
    worker->start();
}

std::string BeamStabilizer::configuredSetupFile()
{
    // One setup file for all devices of the server: the class property,
    // else the default file of the user the server runs as.
    if (Tango::Util::_UseDb) {
        Tango::DbData data{Tango::DbDatum("SetupFile")};
        get_device_class()->get_db_class()->get_property(data);
        std::string path;
        if (!data[0].is_empty() && (data[0] >> path) && !path.empty())
            return path;
    }
    return DeviceProperties::defaultSetupFile();
}

void BeamStabilizer::delete_device()
{
    if (worker)
        worker->shutdown();
    {
        std::lock_guard<std::mutex> guard(pushLock);
        pushStop = true;
    }
    pushWake.notify_all();
    if (pusher.joinable())
        pusher.join();
    worker.reset();
}

void BeamStabilizer::always_executed_hook()
{
    if (worker)
        applyUnits(worker->snapshot());
}

void BeamStabilizer::applyUnits(const ControllerSnapshot &snapshot)
{
    // Until a controller has been identified its detector settings, and so
    // its unit, are not known: the attributes keep the unit they had (the
    // one stored with them, from the last connection).
    if (snapshot.controllerId.isEmpty())
        return;
    for (int stage = 0; stage < 2; ++stage) {
        if (appliedUnit[stage] == snapshot.unit[stage])
            continue;
        appliedUnit[stage] = snapshot.unit[stage];
        const std::string unit = snapshot.unit[stage].toLatin1().toStdString();
        for (int i = 0; i < int(BeamAttribute::Count); ++i) {
            int s = -1;
            if (!isPosition(BeamAttribute(i), s) || s != stage)
                continue;
            Tango::Attribute &att = dev_attr->get_attr_by_name(names[i]);
            // The unit follows the controller's detector settings. It is
            // stored with the attribute, so that the database never holds
            // another unit than the device shows, and a restarted server
            // shows the last one before its controller answers.
            Tango::AttributeConfig_5 config;
            att.get_properties(config);
            if (unit == config.unit.in())
                continue;
            config.unit = CORBA::string_dup(unit.c_str());
            std::string device = get_name();
            std::vector<Tango::Attribute::AttPropDb> changes;
            att.set_properties(config, device, false, changes);
            if (Tango::Util::_UseDb) {
                try {
                    att.upd_database(changes);
                } catch (const Tango::DevFailed &e) {
                    qWarning().noquote() << "Unit of" << names[i] << "not stored:" << e.errors[0].desc.in();
                }
            }
        }
    }
}

void BeamStabilizer::read_attr_hardware(std::vector<long> &)
{
    if (!worker)
        return;
    readSnapshot = worker->snapshot();
    readRaw = worker->rawSamples();
}

void BeamStabilizer::readAttribute(BeamAttribute which, Tango::Attribute &att)
{
    if (!worker)
        Tango::Except::throw_exception("BeamStabilizer_NotConfigured", setupError, "BeamStabilizer::readAttribute");
    const ControllerSnapshot &s = readSnapshot;
    const int i = int(which);
    auto setDouble = [&](double v) {
        doubles[i] = v;
        att.set_value(&doubles[i]);
        if (std::isnan(v))
            att.set_quality(Tango::ATTR_INVALID);
    };
    auto setBool = [&](bool v) {
        booleans[i] = v;
        att.set_value(&booleans[i]);
    };
    auto setLong = [&](long v) {
        longs[i] = Tango::DevLong(v);
        att.set_value(&longs[i]);
    };
    auto setRaw = [&](int slot, auto field) {
        raw[slot].clear();
        for (const StreamSample &sample : readRaw)
            raw[slot].push_back(Tango::DevLong(sample.*field));
        att.set_value(raw[slot].data(), long(raw[slot].size()));
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const bool hasPeriod = s.last.samples > 0;
    switch (which) {
    case BeamAttribute::X1: setDouble(hasPeriod ? s.last.x[0] : nan); break;
    case BeamAttribute::Y1: setDouble(hasPeriod ? s.last.y[0] : nan); break;
    case BeamAttribute::X2: setDouble(hasPeriod ? s.last.x[1] : nan); break;
    case BeamAttribute::Y2: setDouble(hasPeriod ? s.last.y[1] : nan); break;
    case BeamAttribute::Intensity1: setDouble(hasPeriod ? s.last.intensity[0] : nan); break;
    case BeamAttribute::Intensity2: setDouble(hasPeriod ? s.last.intensity[1] : nan); break;
    case BeamAttribute::RangeX1: setDouble(hasPeriod ? s.last.rangeX[0] : nan); break;
    case BeamAttribute::RangeY1: setDouble(hasPeriod ? s.last.rangeY[0] : nan); break;
    case BeamAttribute::RangeX2: setDouble(hasPeriod ? s.last.rangeX[1] : nan); break;
    case BeamAttribute::RangeY2: setDouble(hasPeriod ? s.last.rangeY[1] : nan); break;
    case BeamAttribute::StabilizationOn1: setBool(s.stabOn[0]); break;
    case BeamAttribute::StabilizationOn2: setBool(s.stabOn[1]); break;
    case BeamAttribute::Active1: setBool(s.active[0]); break;
    case BeamAttribute::Active2: setBool(s.active[1]); break;
    case BeamAttribute::PFactor1:
    case BeamAttribute::PFactor2: {
        const int p = s.pFactor[which == BeamAttribute::PFactor1 ? 0 : 1];
        setLong(p < 0 ? 0 : p);
        if (p < 0)
            att.set_quality(Tango::ATTR_INVALID);
        break;
    }
    case BeamAttribute::SamplingRate: setLong(s.samplingRate); break;
    case BeamAttribute::EventRate: setDouble(s.eventRate); break;
    case BeamAttribute::MeanX1: setDouble(s.stats[0].samples ? s.stats[0].meanX : nan); break;
    case BeamAttribute::MeanY1: setDouble(s.stats[0].samples ? s.stats[0].meanY : nan); break;
    case BeamAttribute::MeanX2: setDouble(s.stats[1].samples ? s.stats[1].meanX : nan); break;
    case BeamAttribute::MeanY2: setDouble(s.stats[1].samples ? s.stats[1].meanY : nan); break;
    case BeamAttribute::RMSRadius1: setDouble(s.stats[0].samples ? s.stats[0].rmsRadius : nan); break;
    case BeamAttribute::RMSRadius2: setDouble(s.stats[1].samples ? s.stats[1].rmsRadius : nan); break;
    case BeamAttribute::Headroom1:
    case BeamAttribute::Headroom2: {
        const int stage = which == BeamAttribute::Headroom1 ? 0 : 1;
        setDouble(s.headroom[stage]);
        if (s.headroomWarning[stage])
            att.set_quality(Tango::ATTR_ALARM);
        break;
    }
    case BeamAttribute::ControllerID:
        idText = s.controllerId.toLatin1().toStdString();
        idPointer = const_cast<char *>(idText.c_str());
        att.set_value(&idPointer);
        break;
    case BeamAttribute::FirmwareVersion: setLong(s.firmwareVersion); break;
    case BeamAttribute::SamplesReceived:
    case BeamAttribute::SamplesLost:
        longs64[i] = which == BeamAttribute::SamplesReceived ? s.received : s.lost;
        att.set_value(&longs64[i]);
        break;
    case BeamAttribute::RawX1: setRaw(0, &StreamSample::x1); break;
    case BeamAttribute::RawY1: setRaw(1, &StreamSample::y1); break;
    case BeamAttribute::RawIntensity1: setRaw(2, &StreamSample::intensity1); break;
    case BeamAttribute::RawX2: setRaw(3, &StreamSample::x2); break;
    case BeamAttribute::RawY2: setRaw(4, &StreamSample::y2); break;
    case BeamAttribute::RawIntensity2: setRaw(5, &StreamSample::intensity2); break;
    case BeamAttribute::Count: break;
    }
}

void BeamStabilizer::writeAttribute(BeamAttribute which, Tango::WAttribute &att)
{
    if (!worker)
        Tango::Except::throw_exception("BeamStabilizer_NotConfigured", setupError, "BeamStabilizer::writeAttribute");
    QString error;
    if (which == BeamAttribute::EventRate) {
        Tango::DevDouble perSecond = 0;
        att.get_write_value(perSecond);
        if (!worker->setEventRate(perSecond, error))
            Tango::Except::throw_exception("BeamStabilizer_OutOfRange", error.toStdString(), "BeamStabilizer::writeAttribute");
        return;
    }
    Tango::DevLong value = 0;
    att.get_write_value(value);
    switch (which) {
    case BeamAttribute::PFactor1: runRequest(ControllerWorker::Action::SetPFactor, 1, value); break;
    case BeamAttribute::PFactor2: runRequest(ControllerWorker::Action::SetPFactor, 2, value); break;
    case BeamAttribute::SamplingRate: {
        // Taken at once (also the memorized value at start, while the link
        // may still be opening); only a running stream waits for its restart.
        bool restart = false;
        if (!worker->setSamplingRate(value, restart, error))
            Tango::Except::throw_exception("BeamStabilizer_OutOfRange", error.toStdString(), "BeamStabilizer::writeAttribute");
        if (restart)
            runRequest(ControllerWorker::Action::SetSamplingRate, 0, value);
        break;
    }
    default: break;
    }
}

template <typename List> bool BeamStabilizer::configureHere(const List &config)
{
    Tango::AutoTangoMonitor sync(this, true);
    refuseUnitChanges(config);
    if (Tango::Util::_UseDb)
        return false;
    // Without a database Tango's own handling still tries to store the
    // change there and brings the server down: apply it in memory only.
    std::string device = get_name();
    for (CORBA::ULong k = 0; k < config.length(); ++k) {
        Tango::Attribute &att = dev_attr->get_attr_by_name(config[k].name.in());
        std::vector<Tango::Attribute::AttPropDb> notStored;
        att.set_properties(config[k], device, false, notStored);
    }
    return true;
}

template <typename List> void BeamStabilizer::refuseUnitChanges(const List &config)
{
    for (CORBA::ULong k = 0; k < config.length(); ++k) {
        const std::string name = config[k].name.in();
        for (int i = 0; i < int(BeamAttribute::Count); ++i) {
            int stage = -1;
            if (!isPosition(BeamAttribute(i), stage) || TG_strcasecmp(names[i], name.c_str()) != 0)
                continue;
            Tango::AttributeConfig_5 current;
            dev_attr->get_attr_by_name(names[i]).get_properties(current);
            if (std::string(config[k].unit.in()) == current.unit.in())
                continue;
            Tango::Except::throw_exception(
                "BeamStabilizer_UnitNotWritable",
                std::string("The unit of ") + names[i] + " is " + current.unit.in()
                    + ", that of the controller's detector settings (setup file); it cannot be set by a client",
                "BeamStabilizer::set_attribute_config");
        }
    }
}

void BeamStabilizer::set_attribute_config_5(const Tango::AttributeConfigList_5 &config, const Tango::ClntIdent &client)
{
    if (configureHere(config))
        return;
    Tango::Device_5Impl::set_attribute_config_5(config, client);
}

void BeamStabilizer::set_attribute_config_4(const Tango::AttributeConfigList_3 &config, const Tango::ClntIdent &client)
{
    if (configureHere(config))
        return;
    Tango::Device_5Impl::set_attribute_config_4(config, client);
}

void BeamStabilizer::set_attribute_config_3(const Tango::AttributeConfigList_3 &config)
{
    if (configureHere(config))
        return;
    Tango::Device_5Impl::set_attribute_config_3(config);
}

void BeamStabilizer::set_attribute_config(const Tango::AttributeConfigList &config)
{
    if (configureHere(config))
        return;
    Tango::Device_5Impl::set_attribute_config(config);
}

void BeamStabilizer::runRequest(ControllerWorker::Action action, int stage, int value)
{
    if (!worker)
        Tango::Except::throw_exception("BeamStabilizer_NotConfigured", setupError, "BeamStabilizer::runRequest");
    const RequestResult r = worker->request(action, stage, value, commandWaitMs);
    if (!r.ok)
        Tango::Except::throw_exception("BeamStabilizer_CommandFailed", r.message.toStdString(),
                                       "BeamStabilizer::runRequest");
}

void BeamStabilizer::start() { runRequest(ControllerWorker::Action::Start); }
void BeamStabilizer::stop() { runRequest(ControllerWorker::Action::Stop); }

void BeamStabilizer::reconnect()
{
    if (!worker)
        Tango::Except::throw_exception("BeamStabilizer_NotConfigured", setupError, "BeamStabilizer::reconnect");
    // Closing the link is waited for, so that the state says INIT
    // ("Reconnecting to ...") when this returns; opening and identifying
    // take a few seconds more, and the state shows their outcome.
    worker->request(ControllerWorker::Action::Reconnect, 0, 0, commandWaitMs);
}

void BeamStabilizer::stabilizationOn(Tango::DevShort stage)
{
    runRequest(ControllerWorker::Action::StabilizationOn, stage);
}

void BeamStabilizer::stabilizationOff(Tango::DevShort stage)
{
    runRequest(ControllerWorker::Action::StabilizationOff, stage);
}

Tango::DevState BeamStabilizer::dev_state()
{
    const Tango::DevState state = worker ? stateOf(worker->snapshot()) : Tango::FAULT;
    set_state(state);
    return state;
}

Tango::ConstDevString BeamStabilizer::dev_status()
{
    statusText = worker ? statusOf(worker->snapshot()) : setupError;
    set_status(statusText);
    return statusText.c_str();
}

void BeamStabilizer::queueEvents(const ControllerSnapshot &snapshot, bool periodHadSamples)
{
    {
        std::lock_guard<std::mutex> guard(pushLock);
        pushSnapshot = snapshot;
        pushHadSamples = pushHadSamples || periodHadSamples;
        pushStateChanged = pushStateChanged || !periodHadSamples;
        pushPending = true;
    }
    pushWake.notify_one();
}

void BeamStabilizer::pushLoop()
{
    omni_thread::ensure_self self;
    std::unique_lock<std::mutex> guard(pushLock);
    while (true) {
        pushWake.wait(guard, [this] { return pushStop || pushPending; });
        if (pushStop)
            return;
        const ControllerSnapshot snapshot = pushSnapshot;
        const bool had = pushHadSamples;
        const bool stateChanged = pushStateChanged;
        pushPending = pushHadSamples = pushStateChanged = false;
        guard.unlock();
        // Wait for the device to be free without queueing on its monitor, so
        // that Init (which holds it while it ends this thread) never waits
        // for a push. A push that cannot get in within a period is dropped;
        // a state change is kept for the next one.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        bool free = false;
        while (!(free = get_dev_monitor().get_locking_ctr() == 0) && std::chrono::steady_clock::now() < giveUp) {
            std::lock_guard<std::mutex> check(pushLock);
            if (pushStop)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!free) {
            guard.lock();
            pushStateChanged = pushStateChanged || stateChanged;
            pushPending = pushPending || stateChanged;
            continue;
        }
        try {
            pushEvents(snapshot, had, stateChanged);
        } catch (const Tango::DevFailed &e) {
            // A client request holding the device longer than the monitor
            // wait costs one period's events, nothing else.
            std::cerr << "BeamStabilizer: events not pushed: " << e.errors[0].desc.in() << std::endl;
        }
        guard.lock();
    }
}

void BeamStabilizer::pushEvents(const ControllerSnapshot &s, bool periodHadSamples, bool stateChanged)
{
    // Client reads fill the same attribute objects; the device monitor keeps
    // the two apart.
    Tango::AutoTangoMonitor sync(this);
    if (stateChanged || stateOf(s) != lastPushedState) {
        Tango::DevState state = stateOf(s);
        lastPushedState = state;
        // The State event carries the device's stored state, not the value
        // handed to it.
        set_state(state);
        set_status(statusOf(s));
        push_change_event("State", &state);
        push_archive_event("State", &state);
    }
    if (!periodHadSamples)
        return;
    Tango::DevDouble values[6] = {s.last.x[0], s.last.y[0], s.last.x[1], s.last.y[1],
                                  s.stats[0].rmsRadius, s.stats[1].rmsRadius};
    const BeamAttribute which[6] = {BeamAttribute::X1, BeamAttribute::Y1, BeamAttribute::X2,
                                    BeamAttribute::Y2, BeamAttribute::RMSRadius1, BeamAttribute::RMSRadius2};
    for (int k = 0; k < 6; ++k) {
        push_change_event(names[int(which[k])], &values[k]);
        push_archive_event(names[int(which[k])], &values[k]);
    }
}
