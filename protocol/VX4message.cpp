#include "VX4message.h"

#include "bytes.h"
#include "crcengine.h"
#include "vx4protocol.h"

#include <QStringList>

using namespace VX4Protocol;

VX4Message::VX4Message(quint8 command, quint8 length, quint16 timeoutMs, const QByteArray &payload,
                       quint16 maxSends)
    : command(command)
    , length(length)
    , payload(payload)
    , frame(buildFrame(RequestMarker, length, command, payload))
    , timeoutMs(timeoutMs)
    , maxSends(maxSends)
    , empty(false)
{
}

VX4Message::VX4Message(const QByteArray &bytes)
    : frame(bytes)
{
    if (bytes.size() < MinMessageBytes)
        return;
    length = quint8(bytes.at(1));
    command = quint8(bytes.at(2));
    // Between the command byte and the CRC with its terminator; empty for 5 to 7 bytes.
    payload = bytes.mid(3, qMax<qsizetype>(0, bytes.size() - 7));
    timeoutMs = ReceivedTimeoutMs;
    maxSends = ReceivedMaxSends;
    empty = false;
}

QString VX4Message::toString() const
{
    if (empty)
        return QStringLiteral("Empty VX4Message");
    QString direction;
    const quint8 head = frame.isEmpty() ? 0 : quint8(frame.at(0));
    if (head == AnswerMarker)
        direction = QStringLiteral("PC <- VX4");
    else if (head == RequestMarker)
        direction = QStringLiteral("PC -> VX4");
    else
        direction = QStringLiteral("INVALID MESSAGE HEAD");
    const QStringList parts
        = { direction, QStringLiteral("%1/%2").arg(sendCount).arg(maxSends),
            QString::number(timeoutMs), commandName(command), QString::fromLatin1(frame.toHex()) };
    return parts.join(QStringLiteral(", "));
}

QString VX4Message::commandName(int code)
{
    const CommandInfo *info = commandInfo(code);
    if (info && info->name)
        return QString::fromLatin1(info->name);
    return QString::number(code);
}

QByteArray VX4Message::buildFrame(quint8 marker, quint8 length, quint8 command,
                                  const QByteArray &payload)
{
    QByteArray bytes;
    bytes.reserve(payload.size() + FrameOverhead);
    bytes.append(char(marker));
    bytes.append(char(length));
    bytes.append(char(command));
    bytes.append(payload);
    appendCrc(bytes);
    bytes.append(char(TerminatorCR));
    bytes.append(char(TerminatorLF));
    return bytes;
}

quint16 VX4Message::crc16(const QByteArray &bytes)
{
    CrcEngine engine(16, 0x1021, 0xFFFF, false, false, 0);
    return quint16(engine.compute(bytes));
}

void VX4Message::appendCrc(QByteArray &bytes)
{
    VX4Bytes::appendWord(bytes, crc16(bytes));
}

bool VX4Message::checkCrc(QByteArray frame)
{
    // The CRC over a frame including its own CRC bytes is zero; the terminator is not covered.
    frame.chop(2);
    return crc16(frame) == 0;
}
