#pragma once

#include "ControllerWorker.h"

#include <map>
#include <string>
#include <vector>

// Device properties of a BeamStabilizer: names, defaults and their reading
// into ControllerOptions. Values come from the Tango database (or a Tango
// property file) and can be given or overridden on the command line, which
// is the only source when the server runs without a database:
//   -prop <device>:<Property>=<value>     (repeatable)
//   -props <file>                         (one "<device>:<Property>=<value>" a line)
class DeviceProperties
{
public:
    // A property as the configuration tools show it: its name, the value a
    // device takes when it is not set (empty: none) and what it means.
    struct Declaration
    {
        std::string name;
        std::string defaultValue;
        std::string description;
    };
    static const std::vector<Declaration> &declarations();
    static const std::vector<std::string> &names();

    // The setup file a device reads when neither its SetupFile property nor
    // the class's names one: ConnectionSetup.xml in the data directory of
    // the user the server runs as.
    static std::string defaultSetupFile();

    // Takes the -prop/-props arguments out of argv (so the Tango library
    // never sees them) and remembers them. Returns false with a message on a
    // malformed one.
    static bool takeFromCommandLine(int &argc, char **argv, std::string &error);
    // Parses one "<device>:<Property>=<value>" text into the overrides.
    static bool addOverride(const std::string &text, std::string &error);
    static std::map<std::string, std::string> overridesFor(const std::string &device);

    // Builds the options from name -> value texts (names as in names(),
    // missing ones take their defaults). Returns false with a message when a
    // value does not make sense.
    static bool toOptions(const std::map<std::string, std::string> &values, ControllerOptions &options,
                          std::string &error);
};
