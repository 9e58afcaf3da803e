#include "framing.h"

#include "VX4message.h"

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
    if (buffer.size() < length)
        return { Step::NeedMore, {} };
    if (length == 0) {
        buffer.clear();
        return { Step::ZeroLengthCleared, {} };
    }
    Cut cut { Step::Frame, buffer.left(length) };
    buffer.remove(0, length);
    if (!VX4Message::checkCrc(cut.bytes))
        cut.step = Step::CrcMismatch;
    return cut;
}

} // namespace VX4Framing
