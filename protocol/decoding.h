#pragma once

#include "VX4message.h"

#include <QDateTime>

/// Decoding of the sender's answer payloads into values; short or out-of-range payloads give
/// the fixed fallback values.
namespace VX4Decode {

constexpr qint16 UnknownAdOffset = -30000; ///< A/D offset while unknown or unreadable
constexpr quint8 UnknownFirmwareMajor = 255; ///< firmware major version while unknown
constexpr quint8 CalDateNotStored = 1; ///< status byte of GET CAL DATA: no date stored

VX4App app(const QByteArray &payload);
VX4Mode mode(const QByteArray &payload);
QDateTime calDateTime(const QByteArray &payload);
void firmwareVersion(const QByteArray &payload, quint8 &major, quint8 &minor);
quint16 serialNumber(const QByteArray &payload);
qint16 adOffset(const QByteArray &payload);
int pressure(const QByteArray &payload);

} // namespace VX4Decode
