#pragma once

#include <QByteArray>

/// Cuts frames off the front of a receive buffer: resynchronisation on the start marker, the
/// length byte, and the CRC check. Pure: the engine's receive path logs and routes what it returns.
namespace VX4Framing {

enum class Step {
    NeedMore, ///< fewer than two bytes, or a frame not yet complete: wait for more
    GarbageCleared, ///< no start marker anywhere: `bytes` holds what was dropped
    GarbageTrimmed, ///< bytes before the start marker were dropped; the buffer now starts with it
    MarkerDropped, ///< a length byte below 7 names no frame: only the marker was dropped
    CrcMismatch, ///< `bytes` holds a frame whose CRC failed; only its marker was removed, so a
                 ///< real frame that began inside it is still found
    EchoSkipped, ///< `bytes` holds a request frame with a good CRC, removed whole: a two-wire
                 ///< line echoes what the PC sends, and bytes inside it must not start a frame
    Frame, ///< `bytes` holds a good frame; it was removed from the buffer
};

struct Cut
{
    Step step;
    QByteArray bytes;
};

/// One step of the parser on `buffer`, which it consumes from the front. With the answer marker
/// (the PC's side), echoed requests are skipped whole: a request marker followed by the length
/// byte of a request of its command waits for that many bytes.
Cut takeNext(QByteArray &buffer, char marker);

/// Bytes the frame or echoed request at the front of `buffer` still lacks (the whole minimum frame
/// while its length byte has not arrived); 0 when the buffer holds no incomplete one.
int missingBytes(const QByteArray &buffer, char marker);

} // namespace VX4Framing
