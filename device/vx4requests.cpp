// The request operations: each builds one request of the command table and queues it.
#include "VX4interface.h"

#include "bytes.h"
#include "vx4protocol.h"

#include <QDebug>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;
using VX4Bytes::appendAddress24;
using VX4Bytes::appendWord;

VX4Message VX4Interface::request(quint8 command, const QByteArray &payload) const
{
    const CommandInfo *info = commandInfo(command);
    Q_ASSERT(info && info->length == FrameOverhead + payload.size());
    return VX4Message(command, info->length, requestTimeoutMs(command, info->timeoutMs, baudRate()),
                      payload, info->maxSends);
}

void VX4Interface::enqueueRequest(quint8 command, const QByteArray &payload)
{
    enqueueMessage(request(command, payload));
}

void VX4Interface::queryApp()
{
    enqueueRequest(AppQuery);
}

void VX4Interface::resetDevice()
{
    enqueueRequest(Reset);
}

void VX4Interface::writeProgramMemory(const ProgramMemoryRow &row)
{
    if (row.words.isEmpty())
        return;
    // The length byte is fixed at one full row; anything else would be a malformed frame.
    if (row.words.size() != ProgramRowWords || row.address == ProgramMemoryRow::NoAddress) {
        LOG << "Refusing to write a program memory row without an address or 64 words:"
            << row.toString();
        return;
    }
    QByteArray payload;
    appendAddress24(payload, row.address);
    for (quint32 word : row.words)
        appendWord(payload, quint16(word));
    enqueueRequest(WriteProgMem, payload);
}

void VX4Interface::readProgramMemory(qint64 address)
{
    QByteArray payload;
    appendAddress24(payload, address);
    enqueueRequest(ReadProgMem, payload);
}

void VX4Interface::writeEeprom(qint64 address, quint8 value)
{
    QByteArray payload;
    appendWord(payload, quint16(address));
    payload.append(char(value));
    enqueueRequest(WriteEeprom, payload);
}

void VX4Interface::readEeprom(qint64 address)
{
    QByteArray payload;
    appendWord(payload, quint16(address));
    enqueueRequest(ReadEeprom, payload);
}

void VX4Interface::queryMode()
{
    enqueueRequest(ModeQuery);
}

void VX4Interface::switchMode(quint8 mode)
{
    enqueueRequest(ModeSwitch, QByteArray(1, char(mode)));
}

void VX4Interface::capturePressure(quint8 index, int pressure)
{
    QByteArray payload(1, char(index));
    appendWord(payload, quint16(pressure));
    enqueueRequest(CapturePressure, payload);
}

void VX4Interface::saveCalDateTime(quint16 year, quint8 month, quint8 day, quint8 hour,
                                   quint8 minute)
{
    QByteArray payload;
    appendWord(payload, year);
    payload.append(char(month));
    payload.append(char(day));
    payload.append(char(hour));
    payload.append(char(minute));
    enqueueRequest(SaveCalData, payload);
}

void VX4Interface::requestCalDateTime()
{
    enqueueRequest(GetCalData);
}

void VX4Interface::requestFirmwareVersion()
{
    enqueueRequest(GetFirmVer);
}

void VX4Interface::setSerialNumber(quint16 sn)
{
    QByteArray payload;
    appendWord(payload, sn);
    enqueueRequest(SetSerial, payload);
}

void VX4Interface::requestSerialNumber()
{
    enqueueRequest(GetSerial);
}

void VX4Interface::requestADCounts()
{
    enqueueRequest(GetAdCounts);
}

void VX4Interface::zeroPressure()
{
    enqueueRequest(ZeroPsi);
}

void VX4Interface::requestADOffset()
{
    enqueueRequest(GetOffset);
}
