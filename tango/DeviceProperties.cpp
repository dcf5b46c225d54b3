#include "DeviceProperties.h"

#include "setup/Settings.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

namespace {

std::map<std::string, std::map<std::string, std::string>> &overrides()
{
    static std::map<std::string, std::map<std::string, std::string>> table;
    return table;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string &text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

bool toInt(const std::map<std::string, std::string> &values, const std::string &name, int min, int max,
           int &out, std::string &error)
{
    const auto it = values.find(name);
    if (it == values.end() || trimmed(it->second).empty())
        return true;
    bool ok = false;
    const int v = QString::fromStdString(it->second).trimmed().toInt(&ok);
    if (!ok || v < min || v > max) {
        error = "Property " + name + " must be a whole number from " + std::to_string(min) + " to "
                + std::to_string(max) + ", not \"" + it->second + "\"";
        return false;
    }
    out = v;
    return true;
}

} // namespace

const std::vector<DeviceProperties::Declaration> &DeviceProperties::declarations()
{
    // The defaults are those of ControllerOptions.
    static const std::vector<Declaration> list{
        {"Transport", "tcp", "How the controller is reached: tcp or serial"},
        {"Address", "", "IP address of the controller, or the name of its serial port (ttyUSB0); required"},
        {"Port", "2000", "TCP port of the controller (Transport tcp)"},
        {"BaudRate", "921600", "Baud rate of the serial line (Transport serial)"},
        {"Label", "", "Label sent to the controller after every connection; empty: none is sent"},
        {"SetupFile", "",
         "Setup file with the detector settings, looked up by the controller's ID (volts when it is not there). "
         "Empty: the class property SetupFile, else ConnectionSetup.xml in the data directory under the home "
         "of the user the server runs as"},
        {"SamplingRate", "100",
         "Stream sampling rate in Hz (1 to 500) until one is written to the SamplingRate attribute, whose "
         "memorized value takes precedence"},
        {"AutoStart", "false", "Start the stream after every connection and reconnection: true or false"},
        {"EventRate", "10",
         "Period means (and events) per second, 0.1 to 100, until one is written to the EventRate attribute, "
         "whose memorized value takes precedence"},
        {"StatisticsWindow", "500", "Positions in the rolling means and RMS radius"},
        {"RawSamples", "500", "Samples kept for the raw spectrum attributes (1 to 10000)"},
        {"ReconnectInterval", "3", "Seconds between attempts to reach a controller that was lost (1 to 3600)"},
    };
    return list;
}

const std::vector<std::string> &DeviceProperties::names()
{
    static const std::vector<std::string> list = [] {
        std::vector<std::string> out;
        for (const Declaration &d : declarations())
            out.push_back(d.name);
        return out;
    }();
    return list;
}

std::string DeviceProperties::defaultSetupFile()
{
    return Settings::defaultFilePath().toStdString();
}

bool DeviceProperties::addOverride(const std::string &text, std::string &error)
{
    const auto colon = text.find(':');
    const auto equals = text.find('=', colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || equals == std::string::npos || colon == 0 || equals == colon + 1) {
        error = "Expected <device>:<Property>=<value>, not \"" + text + "\"";
        return false;
    }
    const std::string device = lower(trimmed(text.substr(0, colon)));
    const std::string name = trimmed(text.substr(colon + 1, equals - colon - 1));
    const auto &known = names();
    const auto match = std::find_if(known.begin(), known.end(),
                                    [&](const std::string &n) { return lower(n) == lower(name); });
    if (match == known.end()) {
        error = "Unknown property \"" + name + "\"";
        return false;
    }
    overrides()[device][*match] = trimmed(text.substr(equals + 1));
    return true;
}

bool DeviceProperties::takeFromCommandLine(int &argc, char **argv, std::string &error)
{
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        const bool single = std::strcmp(argv[i], "-prop") == 0;
        const bool file = std::strcmp(argv[i], "-props") == 0;
        if (!single && !file) {
            argv[out++] = argv[i];
            continue;
        }
        if (i + 1 >= argc) {
            error = std::string(argv[i]) + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        if (single) {
            if (!addOverride(value, error))
                return false;
            continue;
        }
        std::ifstream in(value);
        if (!in) {
            error = "Cannot read property file " + value;
            return false;
        }
        std::string line;
        while (std::getline(in, line)) {
            line = trimmed(line);
            if (line.empty() || line[0] == '#')
                continue;
            if (!addOverride(line, error))
                return false;
        }
    }
    argc = out;
    argv[argc] = nullptr;
    return true;
}

std::map<std::string, std::string> DeviceProperties::overridesFor(const std::string &device)
{
    const auto it = overrides().find(lower(device));
    return it == overrides().end() ? std::map<std::string, std::string>() : it->second;
}

bool DeviceProperties::toOptions(const std::map<std::string, std::string> &values, ControllerOptions &o,
                                 std::string &error)
{
    auto text = [&](const std::string &name) {
        const auto it = values.find(name);
        return it == values.end() ? QString() : QString::fromStdString(it->second).trimmed();
    };
    const QString transport = text("Transport").toLower();
    if (transport.isEmpty() || transport == "tcp")
        o.tcp = true;
    else if (transport == "serial")
        o.tcp = false;
    else {
        error = "Property Transport must be tcp or serial, not \"" + transport.toStdString() + "\"";
        return false;
    }
    o.address = text("Address");
    if (o.address.isEmpty()) {
        error = "Property Address is not set (IP address or serial port name)";
        return false;
    }
    int port = 2000, baud = 921600;
    if (!toInt(values, "Port", 1, 65535, port, error) || !toInt(values, "BaudRate", 1, 4000000, baud, error))
        return false;
    o.portOrBaud = o.tcp ? port : baud;
    o.label = text("Label");
    o.setupFile = text("SetupFile");
    if (!toInt(values, "SamplingRate", 1, 500, o.samplingRate, error))
        return false;
    const QString autoStart = text("AutoStart").toLower();
    o.autoStart = autoStart == "true" || autoStart == "1" || autoStart == "yes";
    if (!autoStart.isEmpty() && !o.autoStart && autoStart != "false" && autoStart != "0" && autoStart != "no") {
        error = "Property AutoStart must be true or false";
        return false;
    }
    const QString eventRate = text("EventRate");
    if (!eventRate.isEmpty()) {
        bool ok = false;
        o.eventRate = eventRate.toDouble(&ok);
        if (!ok || o.eventRate < 0.1 || o.eventRate > 100) {
            error = "Property EventRate must be 0.1 to 100 events per second";
            return false;
        }
    }
    int reconnectS = o.reconnectIntervalMs / 1000;
    if (!toInt(values, "StatisticsWindow", 1, 100000, o.statisticsWindow, error)
        || !toInt(values, "RawSamples", 1, 10000, o.rawSamples, error)
        || !toInt(values, "ReconnectInterval", 1, 3600, reconnectS, error))
        return false;
    o.reconnectIntervalMs = reconnectS * 1000;
    return true;
}
