#include "VX4interface.h"

#include "decoding.h"
#include "framing.h"
#include "programmemoryrow.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;

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
    // No byte came for longer than the frame needed: every candidate in the stalled span is
    // stale too, but whole frames inside it are still found.
    for (qsizetype left = receiver.size(); receiver.missingBytes() > 0 && left > 0; --left) {
        receiver.dropMarker();
        cutFrames();
    }
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
        case VX4Framing::Step::EchoSkipped:
            LOG << "Skipped the line's echo of a request:" << VX4Message(cut.bytes).toString();
            continue;
        case VX4Framing::Step::Frame:
            break;
        }

        const VX4Message msg(cut.bytes);
        LOG << "Received: " << msg.toString();
        restartPollingTimer(PollingIdleMs);

        if (msg.command == PressureMsg) {
            emit vx4PressureMsgRdy(VX4Decode::pressure(msg.payload), msg);
            if (quiet)
                continue;
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
            if (state != Connected && !quiet)
                startConnecting();
        } else if (msg.command == messageQueue.first().command) {
            answerHead(msg);
        } else if (lateCommands.contains(msg.command)) {
            LOG << "Dropping a late answer to an earlier request:" << msg.toString();
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

// ---- Firmware download ----------------------------------------------------------------------

bool VX4Interface::startFirmwareUpdate(const QList<ProgramMemoryRow> &rows, bool verify,
                                       const QString &imageVersion)
{
    return download.start(rows, verify, imageVersion);
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
