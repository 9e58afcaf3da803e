#pragma once

#include "VX4interface.h"
#include "ptyendpoint.h"
#include "simulatedsender.h"

#include <memory>

/// A simulated sender served on a pseudo-terminal and, once `openEngine` is called, the engine
/// opened on the other end through the real serial port path.
struct SimLink
{
    SimulatedSender sender;
    PtyEndpoint pty { &sender };
    std::unique_ptr<VX4Interface> engine;

    SimLink();
    QString portPath() const { return pty.slavePath(); }
    /// Opens the engine on the pty (without starting to connect).
    bool openEngine(const PortSettings &settings = PortSettings());
    /// Opens the engine, starts connecting and waits for the connected signal.
    bool connectEngine(int timeoutMs = 10000);
};
