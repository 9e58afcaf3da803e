// Device status: the sender's answers decoded into the stored values and their change signals.
#include "VX4interface.h"

#include "adstatus.h"
#include "decoding.h"
#include "senderidentity.h"
#include "vx4protocol.h"

#include <QDebug>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;

void VX4Interface::resetDeviceInfo()
{
    m_calDateTime = QDateTime::currentDateTime();
    m_app = UnknownApp;
    m_mode = UnknownMode;
    firmwareMajorVersion = VX4Decode::UnknownFirmwareMajor;
    firmwareMinorVersion = 0;
    m_adOffset = VX4Decode::UnknownAdOffset;
    m_serialNumber = 0;
}

void VX4Interface::onResponseRdy(const VX4Message &msg)
{
    decodeAnswer(msg);
}

void VX4Interface::decodeAnswer(const VX4Message &msg)
{
    switch (msg.command) {
    // An APP CHANGE answer is an acknowledgement (00, "accepted"), not the running application.
    case AppQuery: {
        const VX4App decoded = VX4Decode::app(msg.payload);
        if (decoded == m_app)
            return;
        // A sender found in another application than the one identified has restarted (an
        // application restarts some time after acknowledging APP CHANGE): identify it anew.
        const bool restarted = state == Connected && m_app != UnknownApp && decoded != UnknownApp
            && !download.isRunning() && !quiet;
        m_app = decoded;
        LOG << "Emitting vx4AppChanged signal";
        emit vx4AppChanged(m_app);
        if (restarted) {
            LOG << "The sender runs another application now - identifying it.";
            resetDeviceInfo();
            startConnecting();
        }
        break;
    }
    case ModeQuery:
    case ModeSwitch: {
        const VX4Mode decoded = VX4Decode::mode(msg.payload);
        if (decoded == m_mode)
            return;
        m_mode = decoded;
        LOG << "Emitting vx4ModeChanged signal";
        emit vx4ModeChanged(m_mode);
        break;
    }
    case GetCalData: {
        const QDateTime decoded = VX4Decode::calDateTime(msg.payload);
        if (decoded == m_calDateTime)
            return;
        m_calDateTime = decoded;
        LOG << "Emitting vx4CalDateTimeChanged signal";
        emit vx4CalDateTimeChanged(m_calDateTime);
        break;
    }
    case GetFirmVer: {
        quint8 major = 0;
        quint8 minor = 0;
        VX4Decode::firmwareVersion(msg.payload, major, minor);
        if (major == firmwareMajorVersion && minor == firmwareMinorVersion)
            return;
        firmwareMajorVersion = major;
        firmwareMinorVersion = minor;
        LOG << "Emitting vx4FirmwareVersionChanged signal";
        emit vx4FirmwareVersionChanged(firmwareMajorVersion, firmwareMinorVersion);
        break;
    }
    case GetSerial: {
        const quint16 decoded = VX4Decode::serialNumber(msg.payload);
        if (decoded == m_serialNumber)
            return;
        m_serialNumber = decoded;
        LOG << "Emitting vx4SerialNumberChanged signal";
        emit vx4SerialNumberChanged(m_serialNumber);
        break;
    }
    case GetOffset: {
        const qint16 decoded = VX4Decode::adOffset(msg.payload);
        if (decoded == m_adOffset)
            return;
        m_adOffset = decoded;
        LOG << "Emitting vx4ADOffsetChanged signal";
        emit vx4ADOffsetChanged(m_adOffset);
        break;
    }
    default:
        break;
    }
}

QString VX4Interface::firmwareVersionString() const
{
    return QStringLiteral("%1.%2").arg(firmwareMajorVersion).arg(firmwareMinorVersion);
}

QString VX4Interface::serialNumberString()
{
    // The prefix needs the firmware version; while it is unknown the text stays empty.
    if (firmwareMajorVersion == VX4Decode::UnknownFirmwareMajor)
        requestSerialNumber();
    return VX4Identity::serialNumberText(m_serialNumber, firmwareMajorVersion);
}

double VX4Interface::adCountsToVolts(const VX4Message &msg)
{
    if (msg.payload.size() < 3) {
        LOG << "payload length < 3";
        return 0;
    }
    if (const char *problem = VX4AdStatus::logText(quint8(msg.payload.at(0))))
        LOG << problem;
    return VX4AdStatus::countsToVolts(msg.payload);
}
