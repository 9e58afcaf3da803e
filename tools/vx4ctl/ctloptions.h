#pragma once

#include "portsettings.h"

#include <QString>
#include <QStringList>

/// What one vx4ctl run was asked to do: the command, its arguments, the ports and their line
/// settings, and the output options. Parsing checks everything that can be checked without a
/// sender, so bad usage is refused before any port is opened.
struct CtlOptions
{
    static constexpr int DefaultConnectTimeoutMs = 3000; ///< the engine's fast query budget

    QString command; ///< ports, status, monitor, zero, serial, mode, app, flash, history,
                     ///< policy
    QStringList ports; ///< --port, in the order given
    PortSettings line; ///< --baud and the other line settings
    bool json = false;
    QString logFile; ///< --log; empty: the debug log goes nowhere
    int connectTimeoutMs = DefaultConnectTimeoutMs;
    double monitorSeconds = -1; ///< --seconds; negative: until interrupted
    bool verify = true; ///< flash without --no-verify
    QString historySerial; ///< history --serial, as given; empty: every sender
    QStringList commandArguments; ///< policy's words, as given
    int serialNumber = -1; ///< serial N
    quint8 targetMode = 0; ///< mode pressure|calibration, as the mode byte
    bool targetBootloader = false; ///< app bootloader|application
    QString firmwareFile; ///< flash FILE
    bool help = false;
    bool version = false;

    /// Parses the arguments after the program name; on bad usage `error` says what and why.
    static CtlOptions parse(const QStringList &arguments, QString *error);
    static QString usage();
};
