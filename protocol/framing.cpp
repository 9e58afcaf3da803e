#include "framing.h"

#include "VX4message.h"
#include "vx4protocol.h"

namespace VX4Framing {

Cut takeNext(QByteArray &buffer, char marker)
{
    if (buffer.size() < 2)
        return { Step::NeedMore, {} };
    if (buffer.at(0) != marker) {
        const qsizetype at = buffer.indexOf(marker);
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
    if (buffer.isEmpty() || buffer.at(0) != marker)
        return 0;
    const int length = buffer.size() < 2 ? int(VX4Protocol::FrameOverhead) : quint8(buffer.at(1));
    return qMax(0, length - int(buffer.size()));
}

} // namespace VX4Framing
