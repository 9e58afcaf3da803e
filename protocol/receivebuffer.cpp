#include "receivebuffer.h"

VX4ReceiveBuffer::VX4ReceiveBuffer(char marker)
    : marker(marker)
{
}

VX4Framing::Cut VX4ReceiveBuffer::next()
{
    return VX4Framing::takeNext(buffer, marker);
}

bool VX4ReceiveBuffer::endsPass(VX4Framing::Step step)
{
    return step == VX4Framing::Step::NeedMore || step == VX4Framing::Step::GarbageCleared;
}
