#include "decoding.h"

#include "bytes.h"

namespace VX4Decode {

namespace {
quint8 byteAt(const QByteArray &payload, int i)
{
    return quint8(payload.at(i));
}
using VX4Bytes::wordAt;
} // namespace

VX4App app(const QByteArray &payload)
{
    if (payload.isEmpty() || byteAt(payload, 0) > 1)
        return UnknownApp;
    return VX4App(byteAt(payload, 0));
}

VX4Mode mode(const QByteArray &payload)
{
    if (payload.isEmpty() || byteAt(payload, 0) > 2)
        return UnknownMode;
    return byteAt(payload, 0) == 0 ? PressureSendingMode : CalibrationMode;
}

QDateTime calDateTime(const QByteArray &payload)
{
    if (payload.size() < 7 || byteAt(payload, 0) == CalDateNotStored)
        return QDateTime();
    const QLatin1Char zero('0');
    const QString text = QStringLiteral("%1-%2-%3 %4:%5")
                             .arg(wordAt(payload, 1), 4, 10, zero)
                             .arg(byteAt(payload, 3), 2, 10, zero)
                             .arg(byteAt(payload, 4), 2, 10, zero)
                             .arg(byteAt(payload, 5), 2, 10, zero)
                             .arg(byteAt(payload, 6), 2, 10, zero);
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm"));
}

void firmwareVersion(const QByteArray &payload, quint8 &major, quint8 &minor)
{
    if (payload.size() < 2) {
        major = 0;
        minor = 0;
        return;
    }
    major = byteAt(payload, 0);
    minor = byteAt(payload, 1);
}

quint16 serialNumber(const QByteArray &payload)
{
    return payload.size() < 2 ? 0 : wordAt(payload, 0);
}

qint16 adOffset(const QByteArray &payload)
{
    return payload.size() < 2 ? UnknownAdOffset : qint16(wordAt(payload, 0));
}

int pressure(const QByteArray &payload)
{
    return payload.size() < 3 ? 0 : qint16(wordAt(payload, 1));
}

} // namespace VX4Decode
