#pragma once

// Links to the controllers of an embedded simulator.

#include "LinkTestUtil.h"

#include "Simulator.h"
#include "link/Identification.h"
#include "link/TcpClient.h"

// A link connected to controller 0, started with these settings if need be.
inline std::unique_ptr<TcpClient> connectToSimulator(Simulator &sim, const SimConfig &config = SimConfig(),
                                                     const SimFaults &faults = SimFaults())
{
    if (sim.count() == 0) {
        sim.setDefaultConfig(config);
        sim.setDefaultFaults(faults);
    }
    auto link = std::make_unique<TcpClient>();
    if ((sim.count() == 0 && !sim.start(0, 1)) || !link->initialize("127.0.0.1", sim.port(0)))
        return nullptr;
    link->start();
    return waitUntilConnected(*link) ? std::move(link) : nullptr;
}

// A link to a controller in bench mode (sequence numbers in the stream),
// identified by "GID;" only.
inline std::unique_ptr<TcpClient> benchLink(Simulator &sim, const SimFaults &faults = SimFaults(),
                                            SimConfig config = SimConfig())
{
    config.bench = true;
    auto link = connectToSimulator(sim, config, faults);
    return link && identifyController(*link, 0).valid ? std::move(link) : nullptr;
}

// A controller per name, as devices/<name> (with the pid: lock files are global).
inline bool serveSerial(Simulator &sim, const QTemporaryDir &devices, const QStringList &names,
                        const SerialOptions &options = SerialOptions())
{
    const QStringList ptys = sim.startSerial(names.size(), options);
    for (int i = 0; i < ptys.size(); ++i)
        if (!QFile::link(ptys[i], devices.filePath(names[i])))
            return false;
    return devices.isValid() && ptys.size() == names.size();
}
