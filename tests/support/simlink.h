#pragma once

#include "VX4interface.h"
#include "ptyendpoint.h"
#include "simcontrols.h"
#include "simulatedsender.h"

#include <QElapsedTimer>
#include <memory>

/// A frame as the sender would answer `command`.
inline QByteArray answerFrame(quint8 command, const QByteArray &payload)
{
    return VX4Message::buildFrame(VX4Protocol::AnswerMarker,
                                  quint8(VX4Protocol::FrameOverhead + payload.size()), command,
                                  payload);
}

/// A simulated sender served on a pseudo-terminal and, once `openEngine` is called, the engine
/// opened on the other end through the real serial port path.
struct SimLink
{
    SimulatedSender sender;
    PtyEndpoint pty { &sender };
    Drift drift {
        0, 0, DefaultWobblePeriodS, {}
    }; ///< held still: the applied pressure is its base
    SimTarget target { sender, pty, drift }; ///< what the simulator's control lines act on
    std::unique_ptr<VX4Interface> engine;
    QElapsedTimer clock; ///< started with the link
    QList<qint64> arrivalMs; ///< when each good request reached the sender, on `clock`

    SimLink();
    /// Runs the simulator's control lines, separated by ';'; false at the first one refused.
    bool control(const QString &lines);
    /// Opens the engine on the pty (without starting to connect).
    bool openEngine(const PortSettings &settings = PortSettings());
    /// Opens the engine unless open, starts connecting and waits for the connected signal.
    bool connectEngine(int timeoutMs = 10000);
    /// The sender runs `app`; connects and waits until the line is free.
    bool connectAs(VX4App app)
    {
        sender.setApp(app);
        return connectEngine() && waitLineFree();
    }
    /// Waits until nothing is queued, so the next request is the test's own.
    bool waitLineFree(int timeoutMs = 3000);
};
