#include "senderidentity.h"

#include "decoding.h"

namespace VX4Identity {

namespace {
constexpr quint8 LastMajorWithFixedPrefix = 4; ///< up to this major the prefix is always "OVX4"
constexpr quint8 FirstMinorWithAdOffset = 7; ///< firmware 0.7 is the first with an A/D offset
} // namespace

bool firmwareHasAdOffset(quint8 major, quint8 minor)
{
    return major > 0 || minor >= FirstMinorWithAdOffset;
}

QString serialNumberText(quint16 serialNumber, quint8 firmwareMajor)
{
    const QString number = QStringLiteral("%1").arg(serialNumber, 4, 10, QLatin1Char('0'));
    if (firmwareMajor <= LastMajorWithFixedPrefix)
        return QStringLiteral("OVX4-%1").arg(number);
    if (firmwareMajor == VX4Decode::UnknownFirmwareMajor)
        return QString();
    return QStringLiteral("OVX%1-%2").arg(firmwareMajor).arg(number);
}

} // namespace VX4Identity
