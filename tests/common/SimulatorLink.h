#pragma once

// A TcpClient connected to the first controller of an embedded simulator.

#include "LinkTestUtil.h"

#include "Simulator.h"
#include "link/TcpClient.h"

#include <memory>

// Starts the simulator with the given settings unless it already runs, then
// connects a new link to its first controller. Null when that fails.
inline std::unique_ptr<TcpClient> connectToSimulator(Simulator &sim, const SimConfig &config = SimConfig(),
                                                     const SimFaults &faults = SimFaults())
{
    if (sim.count() == 0) {
        sim.setDefaultConfig(config);
        sim.setDefaultFaults(faults);
        if (!sim.start(0, 1))
            return nullptr;
    }
    auto link = std::make_unique<TcpClient>();
    if (!link->initialize("127.0.0.1", sim.port(0)))
        return nullptr;
    link->start();
    return waitUntilConnected(*link) ? std::move(link) : nullptr;
}
