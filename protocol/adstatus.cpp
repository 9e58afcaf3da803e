#include "adstatus.h"

#include "bytes.h"

#include <QCoreApplication>

namespace VX4AdStatus {

namespace {
constexpr float FullScaleCounts = 32767.0f; ///< counts of a positive full-scale reading
constexpr float FullScaleVolts = 3.0f; ///< volts of a positive full-scale reading
} // namespace

const char *logText(quint8 status)
{
    switch (status) {
    case Timeout:
        return "A/D reported a timeout";
    case Nack:
        return "NACK received from A/D";
    case BadConfigByte:
        return "ADS1100 configuration byte != 0x8C";
    default:
        return nullptr;
    }
}

const char *displayText(quint8 status)
{
    switch (status) {
    case Ok:
        return QT_TRANSLATE_NOOP("MainWindow", "Okay");
    case Timeout:
        return QT_TRANSLATE_NOOP("MainWindow", "A/D timeout");
    case Nack:
        return QT_TRANSLATE_NOOP("MainWindow", "A/D NACK");
    case BadConfigByte:
        return QT_TRANSLATE_NOOP("MainWindow", "A/D Bad Config Byte");
    default:
        return nullptr;
    }
}

double countsToVolts(const QByteArray &payload)
{
    if (payload.size() < 3 || quint8(payload.at(0)) != Ok)
        return 0;
    const qint16 counts = qint16(VX4Bytes::wordAt(payload, 1));
    // Single precision: the volts stay exactly those the utility has always reported.
    return double(float(counts) / FullScaleCounts * FullScaleVolts);
}

} // namespace VX4AdStatus
