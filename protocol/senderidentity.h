#pragma once

#include <QString>
#include <QtGlobal>

/// Rules that follow from the sender's firmware version and serial number.
namespace VX4Identity {

/// Firmware 0.7 and later answers GET OFFSET; earlier firmware has no A/D offset.
bool firmwareHasAdOffset(quint8 major, quint8 minor);

/// The serial number as printed on the sender: "OVX4-0042" up to firmware major 4, "OVX7-0042"
/// for major 7; empty while the firmware version is unknown.
QString serialNumberText(quint16 serialNumber, quint8 firmwareMajor);

} // namespace VX4Identity
