#pragma once

#include <QSerialPort>

/// Serial line parameters for one run; every run starts at 9600 8N1 without flow control.
struct PortSettings
{
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };
    enum class Flow { Off, Hardware, XonXoff };

    qint32 baudRate = 9600; ///< bits per second
    int dataBits = 8; ///< 5 to 8
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    Flow flowControl = Flow::Off;
    long timeoutMs = 1; ///< kept for the settings' sake; the port is event-driven

    bool operator==(const PortSettings &other) const;

    /// Hands the settings to a port; takes effect when the port opens.
    void applyTo(QSerialPort &port) const;

    /// Why these settings cannot open a port on this system; empty when they can.
    QString unsupportedReason() const;
};
