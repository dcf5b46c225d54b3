#include "BeamStabilizerClass.h"

#include "BeamStabilizer.h"
#include "DeviceProperties.h"

namespace {

// Attribute objects only forward to the device, which keeps the values.
class ScalarAttribute : public Tango::Attr
{
public:
    ScalarAttribute(BeamAttribute which, long type, Tango::AttrWriteType write)
        : Tango::Attr(BeamStabilizer::attributeName(which), type, write), which(which)
    {
    }
    void read(Tango::DeviceImpl *dev, Tango::Attribute &att) override
    {
        static_cast<BeamStabilizer *>(dev)->readAttribute(which, att);
    }
    void write(Tango::DeviceImpl *dev, Tango::WAttribute &att) override
    {
        static_cast<BeamStabilizer *>(dev)->writeAttribute(which, att);
    }
    bool is_allowed(Tango::DeviceImpl *, Tango::AttReqType) override { return true; }

private:
    BeamAttribute which;
};

class RawAttribute : public Tango::SpectrumAttr
{
public:
    explicit RawAttribute(BeamAttribute which)
        : Tango::SpectrumAttr(BeamStabilizer::attributeName(which), Tango::DEV_LONG, BeamStabilizer::rawMaximum),
          which(which)
    {
    }
    void read(Tango::DeviceImpl *dev, Tango::Attribute &att) override
    {
        static_cast<BeamStabilizer *>(dev)->readAttribute(which, att);
    }
    bool is_allowed(Tango::DeviceImpl *, Tango::AttReqType) override { return true; }

private:
    BeamAttribute which;
};

class VoidCommand : public Tango::Command
{
public:
    VoidCommand(const char *name, void (BeamStabilizer::*call)())
        : Tango::Command(name, Tango::DEV_VOID, Tango::DEV_VOID, "", ""), call(call)
    {
    }
    CORBA::Any *execute(Tango::DeviceImpl *dev, const CORBA::Any &) override
    {
        (static_cast<BeamStabilizer *>(dev)->*call)();
        return insert();
    }
    bool is_allowed(Tango::DeviceImpl *, const CORBA::Any &) override { return true; }

private:
    void (BeamStabilizer::*call)();
};

class StageCommand : public Tango::Command
{
public:
    StageCommand(const char *name, void (BeamStabilizer::*call)(Tango::DevShort))
        : Tango::Command(name, Tango::DEV_SHORT, Tango::DEV_VOID, "Stage: 1 or 2", ""), call(call)
    {
    }
    CORBA::Any *execute(Tango::DeviceImpl *dev, const CORBA::Any &in) override
    {
        Tango::DevShort stage = 0;
        extract(in, stage);
        (static_cast<BeamStabilizer *>(dev)->*call)(stage);
        return insert();
    }
    bool is_allowed(Tango::DeviceImpl *, const CORBA::Any &) override { return true; }

private:
    void (BeamStabilizer::*call)(Tango::DevShort);
};

// How an attribute's changes reach clients: pushed by the device at the
// event rate, or read by Tango's polling thread (which then sends the
// events). Either way Tango applies the change and archive criteria of the
// attribute's configuration; the values below are the defaults.
enum class Events { None, Pushed, Polled };

struct AttributeSpec
{
    BeamAttribute which;
    long type;
    bool writable;
    const char *unit;       // fixed unit; positions get theirs from the detector settings
    const char *description;
    Events events;
    const char *absChange;        // change event: smallest change reported
    const char *archiveAbsChange; // archive event: smallest change stored
};

// Polled attributes are read once a second: often enough for an alarm on a
// headroom's quality, and nothing next to the stream.
constexpr int pollPeriodMs = 1000;
// An archiver stores a value at least once a minute, and in between when it
// moved by the archive change.
constexpr const char *archivePeriodMs = "60000";

const AttributeSpec attributeTable[] = {
    {BeamAttribute::X1, Tango::DEV_DOUBLE, false, "", "Stage 1 x position, mean over the last event period", Events::Pushed, "0.001", "0.1"},
    {BeamAttribute::Y1, Tango::DEV_DOUBLE, false, "", "Stage 1 y position, mean over the last event period", Events::Pushed, "0.001", "0.1"},
    {BeamAttribute::X2, Tango::DEV_DOUBLE, false, "", "Stage 2 x position, mean over the last event period", Events::Pushed, "0.001", "0.1"},
    {BeamAttribute::Y2, Tango::DEV_DOUBLE, false, "", "Stage 2 y position, mean over the last event period", Events::Pushed, "0.001", "0.1"},
    {BeamAttribute::Intensity1, Tango::DEV_DOUBLE, false, "V", "Stage 1 intensity", Events::Polled, "0.01", "0.1"},
    {BeamAttribute::Intensity2, Tango::DEV_DOUBLE, false, "V", "Stage 2 intensity", Events::Polled, "0.01", "0.1"},
    {BeamAttribute::RangeX1, Tango::DEV_DOUBLE, false, "V", "Stage 1 x actuator range", Events::Polled, "0.01", "0.1"},
    {BeamAttribute::RangeY1, Tango::DEV_DOUBLE, false, "V", "Stage 1 y actuator range", Events::Polled, "0.01", "0.1"},
    {BeamAttribute::RangeX2, Tango::DEV_DOUBLE, false, "V", "Stage 2 x actuator range", Events::Polled, "0.01", "0.1"},
    {BeamAttribute::RangeY2, Tango::DEV_DOUBLE, false, "V", "Stage 2 y actuator range", Events::Polled, "0.01", "0.1"},
    {BeamAttribute::StabilizationOn1, Tango::DEV_BOOLEAN, false, "", "Stabilization of stage 1 switched on", Events::None, nullptr, nullptr},
    {BeamAttribute::StabilizationOn2, Tango::DEV_BOOLEAN, false, "", "Stabilization of stage 2 switched on", Events::None, nullptr, nullptr},
    {BeamAttribute::Active1, Tango::DEV_BOOLEAN, false, "", "Stage 1 active (enough light)", Events::None, nullptr, nullptr},
    {BeamAttribute::Active2, Tango::DEV_BOOLEAN, false, "", "Stage 2 active (enough light)", Events::None, nullptr, nullptr},
    {BeamAttribute::PFactor1, Tango::DEV_LONG, true, "", "Stage 1 P-factor (0 = external)", Events::None, nullptr, nullptr},
    {BeamAttribute::PFactor2, Tango::DEV_LONG, true, "", "Stage 2 P-factor (0 = external)", Events::None, nullptr, nullptr},
    {BeamAttribute::SamplingRate, Tango::DEV_LONG, true, "Hz", "Stream sampling rate (memorized)", Events::None, nullptr, nullptr},
    {BeamAttribute::EventRate, Tango::DEV_DOUBLE, true, "1/s", "Period means and events per second (memorized)", Events::None, nullptr, nullptr},
    {BeamAttribute::MeanX1, Tango::DEV_DOUBLE, false, "", "Stage 1 rolling mean x", Events::Polled, "0.001", "0.1"},
    {BeamAttribute::MeanY1, Tango::DEV_DOUBLE, false, "", "Stage 1 rolling mean y", Events::Polled, "0.001", "0.1"},
    {BeamAttribute::MeanX2, Tango::DEV_DOUBLE, false, "", "Stage 2 rolling mean x", Events::Polled, "0.001", "0.1"},
    {BeamAttribute::MeanY2, Tango::DEV_DOUBLE, false, "", "Stage 2 rolling mean y", Events::Polled, "0.001", "0.1"},
    {BeamAttribute::RMSRadius1, Tango::DEV_DOUBLE, false, "", "Stage 1 RMS radius over the rolling window", Events::Pushed, "0.001", "0.01"},
    {BeamAttribute::RMSRadius2, Tango::DEV_DOUBLE, false, "", "Stage 2 RMS radius over the rolling window", Events::Pushed, "0.001", "0.01"},
    {BeamAttribute::Headroom1, Tango::DEV_DOUBLE, false, "V", "Stage 1 piezo headroom: its nearer axis to a range end (V)", Events::Polled, "0.01", "0.1"},
    {BeamAttribute::Headroom2, Tango::DEV_DOUBLE, false, "V", "Stage 2 piezo headroom: its nearer axis to a range end (V)", Events::Polled, "0.01", "0.1"},
    {BeamAttribute::ControllerID, Tango::DEV_STRING, false, "", "Controller identification", Events::None, nullptr, nullptr},
    {BeamAttribute::FirmwareVersion, Tango::DEV_LONG, false, "", "Firmware version", Events::None, nullptr, nullptr},
    {BeamAttribute::SamplesReceived, Tango::DEV_LONG64, false, "", "Stream samples received", Events::None, nullptr, nullptr},
    {BeamAttribute::SamplesLost, Tango::DEV_LONG64, false, "", "Stream samples dropped before they were read", Events::Polled, "1", "1"},
};

} // namespace

BeamStabilizerClass *BeamStabilizerClass::single = nullptr;

BeamStabilizerClass::BeamStabilizerClass(std::string &name) : Tango::DeviceClass(name)
{
    // What configuration tools (Jive's wizard, QueryWizardDevProperty) show
    // for a new device, and the device type its clients see.
    set_type("BeamStabilizationController");
    for (const DeviceProperties::Declaration &d : DeviceProperties::declarations()) {
        std::string propertyName = d.name, description = d.description, defaultValue = d.defaultValue;
        if (defaultValue.empty())
            add_wiz_dev_prop(propertyName, description);
        else
            add_wiz_dev_prop(propertyName, description, defaultValue);
    }
    std::string setupName = "SetupFile";
    std::string setupDescription =
        "Setup file with the detector settings of the controllers, for every device whose own SetupFile is empty; "
        "without it, ConnectionSetup.xml in the data directory under the home of the user the server runs as";
    std::string setupDefault = DeviceProperties::defaultSetupFile();
    add_wiz_class_prop(setupName, setupDescription, setupDefault);
}

BeamStabilizerClass *BeamStabilizerClass::init(const char *name)
{
    if (!single) {
        std::string text(name);
        single = new BeamStabilizerClass(text);
    }
    return single;
}

BeamStabilizerClass *BeamStabilizerClass::instance()
{
    return single;
}

void BeamStabilizerClass::command_factory()
{
    command_list.push_back(new VoidCommand("Start", &BeamStabilizer::start));
    command_list.push_back(new VoidCommand("Stop", &BeamStabilizer::stop));
    command_list.push_back(new VoidCommand("Reconnect", &BeamStabilizer::reconnect));
    command_list.push_back(new StageCommand("StabilizationOn", &BeamStabilizer::stabilizationOn));
    command_list.push_back(new StageCommand("StabilizationOff", &BeamStabilizer::stabilizationOff));
}

void BeamStabilizerClass::attribute_factory(std::vector<Tango::Attr *> &attributes)
{
    for (const AttributeSpec &entry : attributeTable) {
        auto *attr = new ScalarAttribute(entry.which, entry.type, entry.writable ? Tango::READ_WRITE : Tango::READ);
        Tango::UserDefaultAttrProp props;
        props.set_description(entry.description);
        if (*entry.unit)
            props.set_unit(entry.unit);
        if (entry.which == BeamAttribute::SamplingRate) {
            props.set_min_value("1");
            props.set_max_value("500");
        } else if (entry.which == BeamAttribute::EventRate) {
            props.set_min_value("0.1");
            props.set_max_value("100");
        } else if (entry.which == BeamAttribute::PFactor1 || entry.which == BeamAttribute::PFactor2) {
            props.set_min_value("0");
            props.set_max_value("65535");
        }
        if (entry.events != Events::None) {
            props.set_event_abs_change(entry.absChange);
            props.set_archive_event_abs_change(entry.archiveAbsChange);
            props.set_archive_event_period(archivePeriodMs);
        }
        attr->set_default_properties(props);
        if (entry.events == Events::Pushed) {
            // Pushed at the event rate; Tango checks each push against the
            // criteria and passes on only those that meet them.
            attr->set_change_event(true, true);
            attr->set_archive_event(true, true);
        } else if (entry.events == Events::Polled) {
            attr->set_polling_period(pollPeriodMs);
        }
        if (entry.which == BeamAttribute::SamplingRate || entry.which == BeamAttribute::EventRate) {
            // Kept in the database on every write and written again when
            // the device starts (after the properties were read).
            attr->set_memorized();
            attr->set_memorized_init(true);
        }
        attributes.push_back(attr);
    }
    for (int i = int(BeamAttribute::RawX1); i <= int(BeamAttribute::RawIntensity2); ++i) {
        auto *attr = new RawAttribute(BeamAttribute(i));
        Tango::UserDefaultAttrProp props;
        props.set_description("Last raw stream values, oldest first");
        props.set_unit("mV");
        attr->set_default_properties(props);
        attributes.push_back(attr);
    }
}

void BeamStabilizerClass::device_factory(const Tango::DevVarStringArray *devices)
{
    const std::size_t first = device_list.size();
    for (unsigned long i = 0; i < devices->length(); ++i)
        device_list.push_back(new BeamStabilizer(this, (*devices)[i]));
    for (std::size_t i = first; i < device_list.size(); ++i) {
        Tango::DeviceImpl *dev = device_list[i];
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
            export_device(dev);
        else
            export_device(dev, dev->get_name().c_str());
    }
}

void Tango::DServer::class_factory()
{
    add_class(BeamStabilizerClass::init("BeamStabilizer"));
}
