#pragma once

#include "framing.h"

#include <QByteArray>

/// The bytes read from the line and not yet cut into frames. Hands out one parser step at a time,
/// so the caller logs and routes each before the next is cut, and a caller re-entered from its own
/// routing sees the buffer as the outer pass left it.
class VX4ReceiveBuffer
{
public:
    /// `marker` starts every frame to be accepted; other bytes before it are garbage.
    explicit VX4ReceiveBuffer(char marker);

    void append(const QByteArray &bytes) { buffer.append(bytes); }
    /// Cuts the next step off the front. NeedMore and GarbageCleared end a pass.
    VX4Framing::Cut next();
    static bool endsPass(VX4Framing::Step step);
    /// Bytes the incomplete frame held still lacks; 0 when none is held.
    int missingBytes() const { return VX4Framing::missingBytes(buffer, marker); }
    /// Gives up on the incomplete frame held: drops its marker so the scan resumes behind it.
    void dropMarker() { buffer.remove(0, qMin<qsizetype>(1, buffer.size())); }

    /// What is held: at most one incomplete frame once a pass has ended.
    const QByteArray &bytes() const { return buffer; }
    qsizetype size() const { return buffer.size(); }

private:
    QByteArray buffer;
    char marker;
};
