#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

/// The firmware application a sender runs.
enum VX4App { Bootloader = 0, PressureSendingApp = 1, UnknownApp = 2 };

/// The operating mode of the pressure sending application.
enum VX4Mode { PressureSendingMode = 0, CalibrationMode = 1, UnknownMode = 2 };

/// One frame of the wire protocol, a request to the sender or a frame from it, with the
/// bookkeeping the command queue needs.
struct VX4Message
{
    quint8 command = 0;
    quint8 length = 0;
    QByteArray payload;
    QByteArray frame;
    quint16 timeoutMs = 0;
    quint16 sendCount = 0;
    quint16 maxSends = 0;
    bool sent = false;
    bool empty = true;
    quint32 serial = 0; ///< the engine's number for a queued request; 0 for a received frame
    quint32 lastSend = 0; ///< the engine's count of writes at this request's last send
    bool fence = false; ///< sent by the engine only to prove that no late answer is still due

    VX4Message() = default;
    /// A request: builds the frame around `payload` with the caller's length byte.
    VX4Message(quint8 command, quint8 length, quint16 timeoutMs, const QByteArray &payload,
               quint16 maxSends);
    /// A received frame, split into its fields.
    explicit VX4Message(const QByteArray &frame);

    bool isEmpty() const { return empty; }
    QString toString() const;
    static QString commandName(int code);

    /// A complete frame: marker, length byte, command, payload, CRC, CR LF.
    static QByteArray buildFrame(quint8 marker, quint8 length, quint8 command,
                                 const QByteArray &payload);
    static quint16 crc16(const QByteArray &bytes);
    static void appendCrc(QByteArray &bytes);
    static bool checkCrc(QByteArray frame);
};

Q_DECLARE_METATYPE(VX4Message)
Q_DECLARE_METATYPE(VX4App)
Q_DECLARE_METATYPE(VX4Mode)
