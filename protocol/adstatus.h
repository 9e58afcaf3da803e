#pragma once

#include <QByteArray>
#include <QtGlobal>

/// The status byte the sender puts before every A/D reading (pressure frames, A/D counts), and
/// what it means.
namespace VX4AdStatus {

enum Status : quint8 {
    Ok = 0, ///< the reading is valid
    Timeout = 1, ///< the converter did not answer in time
    Nack = 2, ///< the converter refused its address
    BadConfigByte = 3, ///< the converter's configuration byte is not 0x8C
};

/// The diagnostic line for a failed reading; nullptr for Ok and for codes the sender never sends.
const char *logText(quint8 status);

/// The short status a window shows, untranslated (pass it through tr() with the "MainWindow"
/// context); nullptr for codes the sender never sends.
const char *displayText(quint8 status);

/// An A/D counts answer (status, signed 16-bit counts) in volts on the converter's 3 V range;
/// 0 when the payload is shorter than 3 bytes or the status is not Ok.
double countsToVolts(const QByteArray &payload);

} // namespace VX4AdStatus
