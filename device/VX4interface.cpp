#include "VX4interface.h"

#include "bytes.h"
#include "decoding.h"
#include "framing.h"
#include "programmemoryrow.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;
using VX4Bytes::appendAddress24;
using VX4Bytes::appendWord;

namespace {
// Held while a frame is written and the message timer armed.
QMutex sendMutex;
} // namespace

VX4Interface::VX4Interface(const QString &portName, const PortSettings &settings)
    : QSerialPort(nullptr)
{
    static const bool registered = [] {
        qRegisterMetaType<VX4Message>();
        qRegisterMetaType<VX4App>();
        qRegisterMetaType<VX4Mode>();
        return true;
    }();
    Q_UNUSED(registered);

    setPortName(portName);
    settings.applyTo(*this);
    resetDeviceInfo();
    messageTimer = new QTimer(this);
    pollingTimer = new QTimer(this);
    // Time-outs are protocol timing: coarse timers may fire 5 % early.
    messageTimer->setTimerType(Qt::PreciseTimer);
    pollingTimer->setTimerType(Qt::PreciseTimer);
    connect(this, &QIODevice::readyRead, this, &VX4Interface::onSerialPortReadyRead);
    connect(this, &VX4Interface::vx4ResponseRdy, this, &VX4Interface::onResponseRdy);
    connect(messageTimer, &QTimer::timeout, this, &VX4Interface::onMsgTimerTimeout);
    stallTimer = new QTimer(this);
    stallTimer->setSingleShot(true);
    stallTimer->setTimerType(Qt::PreciseTimer);
    connect(stallTimer, &QTimer::timeout, this, &VX4Interface::onStalledFrame);
    connect(this, &QSerialPort::errorOccurred, this, &VX4Interface::onPortError);
}

VX4Interface::~VX4Interface()
{
    delete messageTimer;
}

QString VX4Interface::appText(VX4App app)
{
    switch (app) {
    case Bootloader:
        return tr("Bootloader Application");
    case PressureSendingApp:
        return tr("Pressure Sending Application");
    default:
        return tr("Unknown Application");
    }
}

QString VX4Interface::modeText(VX4Mode mode)
{
    switch (mode) {
    case PressureSendingMode:
        return tr("Pressure Sending Mode");
    case CalibrationMode:
        return tr("Calibration Mode");
    default:
        return tr("Unknown Mode");
    }
}

// ---- Request operations ---------------------------------------------------------------------

void VX4Interface::enqueueRequest(quint8 command, const QByteArray &payload)
{
    const CommandInfo *info = commandInfo(command);
    Q_ASSERT(info && info->length == FrameOverhead + payload.size());
    enqueueMessage(VX4Message(command, info->length,
                              requestTimeoutMs(command, info->timeoutMs, baudRate()), payload,
                              info->maxSends));
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

// ---- Receive path ---------------------------------------------------------------------------

void VX4Interface::onSerialPortReadyRead()
{
    if (!isOpen())
        return;
    const qint64 available = bytesAvailable();
    if (available <= 0)
        return;
    const QByteArray bytes = read(available);
    if (bytes.isEmpty()) {
        LOG << "There were bytes to read, but nothing was read.";
        return;
    }
    receiveBytes(bytes);
}

void VX4Interface::receiveBytes(const QByteArray &bytes)
{
    receiver.append(bytes);
    processReceiveBuffer();
}

void VX4Interface::processReceiveBuffer()
{
    cutFrames();
    // Noise that looked like the start of a long frame must not hold the line for ever: once
    // no byte has come for longer than the missing ones need, the frame is given up.
    const int missing = receiver.missingBytes();
    if (missing <= 0 || !isOpen()) {
        stallTimer->stop();
        return;
    }
    stallTimer->start(StalledFrameMarginMs + lineTimeMs(missing, baudRate()));
}

void VX4Interface::onStalledFrame()
{
    if (receiver.missingBytes() <= 0)
        return;
    LOG << "Dropping an incomplete frame that got no more bytes:"
        << QString::fromLatin1(receiver.bytes().toHex());
    receiver.dropMarker();
    processReceiveBuffer();
}

void VX4Interface::cutFrames()
{
    for (;;) {
        const VX4Framing::Cut cut = receiver.next();
        switch (cut.step) {
        case VX4Framing::Step::NeedMore:
            return;
        case VX4Framing::Step::GarbageCleared:
            LOG << "Buffer truly was full of garbage - clearing" << cut.bytes;
            return;
        case VX4Framing::Step::GarbageTrimmed:
        case VX4Framing::Step::MarkerDropped:
            LOG << "Trimmed leading garbage.  Buffer now contains"
                << QString::fromLatin1(receiver.bytes().toHex());
            continue;
        case VX4Framing::Step::CrcMismatch:
            LOG << "CRC mismatch!" << QString::fromLatin1(cut.bytes.toHex());
            continue;
        case VX4Framing::Step::Frame:
            break;
        }

        const VX4Message msg(cut.bytes);
        LOG << "Received: " << msg.toString();
        restartPollingTimer(PollingIdleMs);

        if (msg.command == PressureMsg) {
            emit vx4PressureMsgRdy(VX4Decode::pressure(msg.payload), msg);
            // A streaming sender keeps the line busy, so no idle poll would ever find it again.
            if (state == Disconnected && messageQueue.isEmpty()) {
                LOG << "Pressure message while disconnected - reconnecting.";
                startConnecting();
            } else if (state == Connected && m_app == Bootloader && messageQueue.isEmpty()
                       && !download.isRunning()) {
                // Only the application streams: the bootloader found before has restarted.
                LOG << "The sender runs another application now - identifying it.";
                resetDeviceInfo();
                startConnecting();
            }
        } else if (messageQueue.isEmpty()) {
            LOG << "Unsolicited response:" << msg.toString();
            if (state != Connected)
                startConnecting();
        } else if (msg.command == messageQueue.first().command) {
            messageTimer->stop();
            answeredSerial = removeHeadMessage().serial;
            emit vx4ResponseRdy(msg);
            sendNextMessage();
        } else {
            LOG << "Waiting on:" << messageQueue.first().toString();
        }
    }
}

void VX4Interface::onPortError(QSerialPort::SerialPortError error)
{
    // An unplugged adapter shows as a resource error on Linux and Windows, a dead line as a
    // failed write; either way nothing will come through this port again.
    if (error == QSerialPort::ResourceError || error == QSerialPort::WriteError)
        portLost(errorString());
}

void VX4Interface::portLost(const QString &reason)
{
    if (!isOpen())
        return;
    LOG << "The serial port was lost:" << reason;
    stallTimer->stop();
    messageTimer->stop();
    pollForConnectionChange(false);
    messageQueue.clear();
    download.portLost(reason);
    close();
    emit vx4PortLost(reason);
}

// ---- Command queue --------------------------------------------------------------------------

void VX4Interface::enqueueMessage(const VX4Message &msg)
{
    LOG << "Enqueueing " << msg.toString();
    messageQueue.append(msg);
    messageQueue.last().serial = ++lastSerial;
    if (messageQueue.size() > 1) {
        LOG << QStringLiteral("There are now %1 messages in the queue.").arg(messageQueue.size());
        return;
    }
    LOG << "Only message in queue - sending immediately.";
    sendNextMessage();
}

void VX4Interface::sendNextMessage()
{
    if (messageQueue.isEmpty() && download.lineFree())
        return;
    if (messageQueue.isEmpty() || messageQueue.first().sent)
        return;
    sendMessage(messageQueue.first());
}

void VX4Interface::sendMessage(VX4Message &msg)
{
    if (!isOpen()) {
        LOG << "Cannot send command.  Serial port not open.";
        return;
    }
    restartPollingTimer(PollingIdleMs);
    QMutexLocker locker(&sendMutex);
    msg.sent = true;
    ++msg.sendCount;
    write(msg.frame.constData(), msg.frame.size());
    LOG << "Sent: " << msg.toString();
    messageTimer->stop();
    messageTimer->setInterval(msg.timeoutMs);
    messageTimer->start();
}

void VX4Interface::restartPollingTimer(int ms)
{
    pollingTimer->stop();
    pollingTimer->setInterval(ms);
    pollingTimer->start();
}

VX4Message VX4Interface::removeHeadMessage()
{
    if (messageQueue.isEmpty()) {
        LOG << "Can't remove head message from an empty queue";
        return VX4Message();
    }
    LOG << "Removing msg: " << messageQueue.first().toString();
    VX4Message head = messageQueue.takeFirst();
    LOG << QStringLiteral("There are now %1 messages in the queue.").arg(messageQueue.size());
    return head;
}

void VX4Interface::onMsgTimerTimeout()
{
    messageTimer->stop();
    if (messageQueue.isEmpty()) {
        LOG << "Attempting to remove a message from an empty queue.";
        return;
    }
    VX4Message &head = messageQueue.first();
    if (head.sendCount < head.maxSends) {
        sendMessage(head);
        return;
    }
    const VX4Message givenUp = removeHeadMessage();
    emit vx4MessageTimeout(givenUp);
    sendNextMessage();
}

// ---- Firmware download ----------------------------------------------------------------------

bool VX4Interface::startFirmwareUpdate(const QList<ProgramMemoryRow> &rows, bool verify)
{
    return download.start(rows, verify);
}

void VX4Interface::finishFirmwareUpdate()
{
    download.finish();
}

void VX4Interface::firmwareUpdateMsgHandler(const VX4Message &msg)
{
    download.onAnswer(msg);
}

void VX4Interface::firmwareUpdateTimeoutHandler(const VX4Message &msg)
{
    download.onTimeout(msg);
}
