#include "framing.h"

#include "VX4message.h"
#include "vx4protocol.h"

namespace VX4Framing {

namespace {
constexpr int EchoHeaderBytes = 3; ///< marker, length and command tell a request's length

/// Whether `marker` is a request marker that the parser for `marker` side may find echoed.
bool echoes(const QByteArray &buffer, char marker)
{
    return marker == char(VX4Protocol::AnswerMarker)
        && buffer.at(0) == char(VX4Protocol::RequestMarker);
}

/// The length of the request that the echo at the front announces; 0 when it announces none.
int echoLength(const QByteArray &buffer)
{
    const VX4Protocol::CommandInfo *info = VX4Protocol::commandInfo(quint8(buffer.at(2)));
    const int length = quint8(buffer.at(1));
    return info && info->length == length ? length : 0;
}
} // namespace

Cut takeNext(QByteArray &buffer, char marker)
{
    if (buffer.size() < 2)
        return { Step::NeedMore, {} };
    if (echoes(buffer, marker)) {
        if (buffer.size() < EchoHeaderBytes)
            return { Step::NeedMore, {} };
        if (const int echoed = echoLength(buffer)) {
            if (buffer.size() < echoed)
                return { Step::NeedMore, {} };
            if (VX4Message::checkCrc(buffer.left(echoed))) {
                Cut cut { Step::EchoSkipped, buffer.left(echoed) };
                buffer.remove(0, echoed);
                return cut;
            }
        }
    }
    if (buffer.at(0) != marker) {
        // Garbage up to the next frame, or the next echoed request on the PC's side.
        qsizetype at = buffer.indexOf(marker, 1);
        if (marker == char(VX4Protocol::AnswerMarker)) {
            const qsizetype echo = buffer.indexOf(char(VX4Protocol::RequestMarker), 1);
            if (echo > 0 && (at < 0 || echo < at))
                at = echo;
        }
        if (at < 0) {
            Cut cut { Step::GarbageCleared, buffer };
            buffer.clear();
            return cut;
        }
        buffer.remove(0, at);
        return { Step::GarbageTrimmed, {} };
    }
    const int length = quint8(buffer.at(1));
    // A stray marker: no frame is shorter than its overhead.
    if (length < VX4Protocol::FrameOverhead) {
        buffer.remove(0, 1);
        return { Step::MarkerDropped, {} };
    }
    if (buffer.size() < length)
        return { Step::NeedMore, {} };
    Cut cut { Step::Frame, buffer.left(length) };
    if (!VX4Message::checkCrc(cut.bytes)) {
        // The marker may have been noise in front of a real frame: scan on behind it.
        buffer.remove(0, 1);
        cut.step = Step::CrcMismatch;
        return cut;
    }
    buffer.remove(0, length);
    return cut;
}

int missingBytes(const QByteArray &buffer, char marker)
{
    if (buffer.isEmpty())
        return 0;
    if (echoes(buffer, marker)) {
        if (buffer.size() < EchoHeaderBytes)
            return int(VX4Protocol::FrameOverhead) - int(buffer.size());
        return qMax(0, echoLength(buffer) - int(buffer.size()));
    }
    if (buffer.at(0) != marker)
        return 0;
    const int length = buffer.size() < 2 ? int(VX4Protocol::FrameOverhead) : quint8(buffer.at(1));
    return qMax(0, length - int(buffer.size()));
}

} // namespace VX4Framing
