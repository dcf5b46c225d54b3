#include "BeamStabilizerClass.h"

#include "BeamStabilizer.h"

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

struct AttributeSpec
{
    BeamAttribute which;
    long type;
    bool writable;
    const char *unit;       // fixed unit; positions get theirs from the detector model
    const char *description;
    bool events;            // change and archive events pushed at the event rate
};

const AttributeSpec attributeTable[] = {
    {BeamAttribute::X1, Tango::DEV_DOUBLE, false, "", "Stage 1 x position, mean over the last event period", true},
    {BeamAttribute::Y1, Tango::DEV_DOUBLE, false, "", "Stage 1 y position, mean over the last event period", true},
    {BeamAttribute::X2, Tango::DEV_DOUBLE, false, "", "Stage 2 x position, mean over the last event period", true},
    {BeamAttribute::Y2, Tango::DEV_DOUBLE, false, "", "Stage 2 y position, mean over the last event period", true},
    {BeamAttribute::Intensity1, Tango::DEV_DOUBLE, false, "V", "Stage 1 intensity", false},
    {BeamAttribute::Intensity2, Tango::DEV_DOUBLE, false, "V", "Stage 2 intensity", false},
    {BeamAttribute::RangeX1, Tango::DEV_DOUBLE, false, "V", "Stage 1 x actuator range", false},
    {BeamAttribute::RangeY1, Tango::DEV_DOUBLE, false, "V", "Stage 1 y actuator range", false},
    {BeamAttribute::RangeX2, Tango::DEV_DOUBLE, false, "V", "Stage 2 x actuator range", false},
    {BeamAttribute::RangeY2, Tango::DEV_DOUBLE, false, "V", "Stage 2 y actuator range", false},
    {BeamAttribute::StabilizationOn1, Tango::DEV_BOOLEAN, false, "", "Stabilization of stage 1 switched on", false},
    {BeamAttribute::StabilizationOn2, Tango::DEV_BOOLEAN, false, "", "Stabilization of stage 2 switched on", false},
    {BeamAttribute::Active1, Tango::DEV_BOOLEAN, false, "", "Stage 1 active (enough light)", false},
    {BeamAttribute::Active2, Tango::DEV_BOOLEAN, false, "", "Stage 2 active (enough light)", false},
    {BeamAttribute::PFactor1, Tango::DEV_LONG, true, "", "Stage 1 P-factor (0 = external)", false},
    {BeamAttribute::PFactor2, Tango::DEV_LONG, true, "", "Stage 2 P-factor (0 = external)", false},
    {BeamAttribute::SamplingRate, Tango::DEV_LONG, true, "Hz", "Stream sampling rate", false},
    {BeamAttribute::MeanX1, Tango::DEV_DOUBLE, false, "", "Stage 1 rolling mean x", false},
    {BeamAttribute::MeanY1, Tango::DEV_DOUBLE, false, "", "Stage 1 rolling mean y", false},
    {BeamAttribute::MeanX2, Tango::DEV_DOUBLE, false, "", "Stage 2 rolling mean x", false},
    {BeamAttribute::MeanY2, Tango::DEV_DOUBLE, false, "", "Stage 2 rolling mean y", false},
    {BeamAttribute::RMSRadius1, Tango::DEV_DOUBLE, false, "", "Stage 1 RMS radius over the rolling window", true},
    {BeamAttribute::RMSRadius2, Tango::DEV_DOUBLE, false, "", "Stage 2 RMS radius over the rolling window", true},
    {BeamAttribute::Headroom1, Tango::DEV_DOUBLE, false, "V", "Stage 1 piezo headroom: its nearer axis to a range end (V)", false},
    {BeamAttribute::Headroom2, Tango::DEV_DOUBLE, false, "V", "Stage 2 piezo headroom: its nearer axis to a range end (V)", false},
    {BeamAttribute::ControllerID, Tango::DEV_STRING, false, "", "Controller identification", false},
    {BeamAttribute::FirmwareVersion, Tango::DEV_LONG, false, "", "Firmware version", false},
    {BeamAttribute::SamplesReceived, Tango::DEV_LONG64, false, "", "Stream samples received", false},
    {BeamAttribute::SamplesLost, Tango::DEV_LONG64, false, "", "Stream samples dropped before they were read", false},
};

} // namespace

BeamStabilizerClass *BeamStabilizerClass::single = nullptr;

BeamStabilizerClass::BeamStabilizerClass(std::string &name) : Tango::DeviceClass(name) {}

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
        } else if (entry.which == BeamAttribute::PFactor1 || entry.which == BeamAttribute::PFactor2) {
            props.set_min_value("0");
            props.set_max_value("65535");
        }
        attr->set_default_properties(props);
        if (entry.events) {
            attr->set_change_event(true, false);
            attr->set_archive_event(true, false);
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
