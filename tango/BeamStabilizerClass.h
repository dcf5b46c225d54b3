#pragma once

#include <tango.h>

// The Tango class of the beam stabilization controller devices: its
// attributes, commands and device factory.
class BeamStabilizerClass : public Tango::DeviceClass
{
public:
    static BeamStabilizerClass *init(const char *name);
    static BeamStabilizerClass *instance();

protected:
    explicit BeamStabilizerClass(std::string &name);
    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr *> &attributes) override;
    void device_factory(const Tango::DevVarStringArray *devices) override;

private:
    static BeamStabilizerClass *single;
};
