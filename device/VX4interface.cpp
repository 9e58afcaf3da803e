#include "VX4interface.h"

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

namespace {
// Held while a frame is written and the message timer armed.
QMutex sendMutex;

void appendWord(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

void appendAddress24(QByteArray &bytes, qint64 address)
{
    bytes.append(char((address >> 16) & 0xFF));
    bytes.append(char((address >> 8) & 0xFF));
    bytes.append(char(address & 0xFF));
}
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
    enqueueMessage(VX4Message(command, info->length, info->timeoutMs, payload, info->maxSends));
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
    receiveBuffer.append(bytes);
    processReceiveBuffer();
}

void VX4Interface::processReceiveBuffer()
{
    for (;;) {
        const VX4Framing::Cut cut = VX4Framing::takeNext(receiveBuffer, char(AnswerMarker));
        switch (cut.step) {
        case VX4Framing::Step::NeedMore:
        case VX4Framing::Step::ZeroLengthCleared:
            return;
        case VX4Framing::Step::GarbageCleared:
            LOG << "Buffer truly was full of garbage - clearing" << cut.bytes;
            return;
        case VX4Framing::Step::GarbageTrimmed:
            LOG << "Trimmed leading garbage.  Buffer now contains"
                << QString::fromLatin1(receiveBuffer.toHex());
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
            }
        } else if (messageQueue.isEmpty()) {
            LOG << "Unsolicited response:" << msg.toString();
            if (state != Connected)
                startConnecting();
        } else if (msg.command == messageQueue.first().command) {
            messageTimer->stop();
            removeHeadMessage();
            emit vx4ResponseRdy(msg);
            sendNextMessage();
        } else {
            LOG << "Waiting on:" << messageQueue.first().toString();
        }
    }
}

// ---- Command queue --------------------------------------------------------------------------

void VX4Interface::enqueueMessage(const VX4Message &msg)
{
    LOG << "Enqueueing " << msg.toString();
    messageQueue.append(msg);
    if (messageQueue.size() > 1) {
        LOG << QStringLiteral("There are now %1 messages in the queue.").arg(messageQueue.size());
        return;
    }
    LOG << "Only message in queue - sending immediately.";
    sendNextMessage();
}

void VX4Interface::sendNextMessage()
{
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

// ---- Connection states ----------------------------------------------------------------------

void VX4Interface::bindPair(Pair pair)
{
    const auto unique = Qt::UniqueConnection;
    switch (pair) {
    case Pair::Connecting:
        connect(this, &VX4Interface::vx4ResponseRdy, this, &VX4Interface::connectingMsgHandler,
                unique);
        connect(this, &VX4Interface::vx4MessageTimeout, this,
                &VX4Interface::connectingTimeoutHandler, unique);
        break;
    case Pair::Connected:
        connect(this, &VX4Interface::vx4ResponseRdy, this, &VX4Interface::connectedMsgHandler,
                unique);
        connect(this, &VX4Interface::vx4MessageTimeout, this,
                &VX4Interface::connectedTimeoutHandler, unique);
        break;
    case Pair::Disconnected:
        connect(this, &VX4Interface::vx4ResponseRdy, this, &VX4Interface::disconnectedMsgHandler,
                unique);
        connect(this, &VX4Interface::vx4MessageTimeout, this,
                &VX4Interface::disconnectedTimeoutHandler, unique);
        break;
    case Pair::FirmwareUpdate:
        connect(this, &VX4Interface::vx4ResponseRdy, this, &VX4Interface::firmwareUpdateMsgHandler,
                unique);
        connect(this, &VX4Interface::vx4MessageTimeout, this,
                &VX4Interface::firmwareUpdateTimeoutHandler, unique);
        break;
    }
}

void VX4Interface::unbindPair(Pair pair)
{
    switch (pair) {
    case Pair::Connecting:
        disconnect(this, &VX4Interface::vx4ResponseRdy, this, &VX4Interface::connectingMsgHandler);
        disconnect(this, &VX4Interface::vx4MessageTimeout, this,
                   &VX4Interface::connectingTimeoutHandler);
        break;
    case Pair::Connected:
        disconnect(this, &VX4Interface::vx4ResponseRdy, this, &VX4Interface::connectedMsgHandler);
        disconnect(this, &VX4Interface::vx4MessageTimeout, this,
                   &VX4Interface::connectedTimeoutHandler);
        break;
    case Pair::Disconnected:
        disconnect(this, &VX4Interface::vx4ResponseRdy, this,
                   &VX4Interface::disconnectedMsgHandler);
        disconnect(this, &VX4Interface::vx4MessageTimeout, this,
                   &VX4Interface::disconnectedTimeoutHandler);
        break;
    case Pair::FirmwareUpdate:
        disconnect(this, &VX4Interface::vx4ResponseRdy, this,
                   &VX4Interface::firmwareUpdateMsgHandler);
        disconnect(this, &VX4Interface::vx4MessageTimeout, this,
                   &VX4Interface::firmwareUpdateTimeoutHandler);
        break;
    }
}

void VX4Interface::startConnecting()
{
    if (state == Connected)
        unbindPair(Pair::Connected);
    else if (state == Disconnected)
        unbindPair(Pair::Disconnected);
    state = Connecting;
    connectingStep = 0;
    pollForConnectionChange(false);
    bindPair(Pair::Connecting);
    enqueueMessage(VX4Message(AppQuery, commandInfo(AppQuery)->length, FastAppQueryTimeoutMs, {},
                              FastAppQueryMaxSends));
}

void VX4Interface::changeApp()
{
    enqueueRequest(AppChange);
    resetDeviceInfo();
    startConnecting();
}

void VX4Interface::close()
{
    resetDeviceInfo();
    emit vx4DisconnectedSignal();
    QSerialPort::close();
}

void VX4Interface::pollForConnectionChange(bool poll)
{
    pollingEnabled = poll;
    if (poll) {
        // The watchdog is armed even behind queued requests (a mode switch is always queued
        // when polling is switched back on); it polls once the line has gone idle.
        connect(pollingTimer, &QTimer::timeout, this, &VX4Interface::onPollingTimerTimeout,
                Qt::UniqueConnection);
        if (!messageQueue.isEmpty())
            return;
        queryApp();
    } else {
        LOG << "Polling stopped.";
        pollingTimer->stop();
        disconnect(pollingTimer, &QTimer::timeout, this, &VX4Interface::onPollingTimerTimeout);
    }
}

void VX4Interface::onPollingTimerTimeout()
{
    pollForConnectionChange(pollingEnabled);
}

void VX4Interface::onAppQueryTimerTimeout()
{
    queryApp();
}

void VX4Interface::connectingMsgHandler(const VX4Message &msg)
{
    switch (connectingStep) {
    case 0:
        if (msg.command == AppQuery) {
            LOG << "Initialization: Received app query response.";
            decodeAnswer(msg);
        }
        if (m_app == Bootloader) {
            finishConnecting(Bootloader);
            return;
        }
        requestFirmwareVersion();
        connectingStep = 1;
        break;
    case 1:
        if (msg.command != GetFirmVer)
            return;
        LOG << "Initialization: Received firmware version response.";
        decodeAnswer(msg);
        requestSerialNumber();
        connectingStep = 2;
        break;
    case 2:
        if (msg.command != GetSerial)
            return;
        decodeAnswer(msg);
        requestCalDateTime();
        connectingStep = 3;
        break;
    case 3:
        if (msg.command != GetCalData)
            return;
        decodeAnswer(msg);
        queryMode();
        connectingStep = 4;
        break;
    case 4:
        if (msg.command != ModeQuery)
            return;
        decodeAnswer(msg);
        // Firmware before 0.7 has no A/D offset request.
        if (firmwareMajorVersion == 0 && firmwareMinorVersion <= 6) {
            finishConnecting(PressureSendingApp);
            return;
        }
        requestADOffset();
        connectingStep = 5;
        break;
    case 5:
        if (msg.command != GetOffset)
            return;
        decodeAnswer(msg);
        finishConnecting(PressureSendingApp);
        break;
    default:
        break;
    }
}

void VX4Interface::finishConnecting(VX4App finishedApp)
{
    if (finishedApp == Bootloader) {
        state = Connected;
        pollForConnectionChange(true);
        bindPair(Pair::Connected);
        unbindPair(Pair::Connecting);
        emit vx4ConnectedSignal();
        emit vx4AppChanged(Bootloader);
        connectingStep = 0;
        pollForConnectionChange(true);
        return;
    }
    state = Connected;
    connectingStep = 0;
    bindPair(Pair::Connected);
    unbindPair(Pair::Connecting);
    emit vx4ConnectedSignal();
    emit vx4AppChanged(PressureSendingApp);
    pollForConnectionChange(true);
}

void VX4Interface::connectingTimeoutHandler(const VX4Message &msg)
{
    LOG << "Timeout while waiting for" << msg.toString();
    connectingStep = 0;
    queryApp();
}

void VX4Interface::connectedMsgHandler(const VX4Message &msg)
{
    decodeAnswer(msg);
}

void VX4Interface::connectedTimeoutHandler(const VX4Message &msg)
{
    LOG << "Timeout:" << msg.toString();
    state = Disconnected;
    pollForConnectionChange(true);
    bindPair(Pair::Disconnected);
    unbindPair(Pair::Connected);
    LOG << "Clearing the message queue.";
    messageQueue.clear();
    resetDeviceInfo();
    emit vx4DisconnectedSignal();
}

void VX4Interface::disconnectedMsgHandler(const VX4Message &msg)
{
    LOG << "Received" << msg.toString();
    LOG << "Switching to connecting state";
    bindPair(Pair::Connecting);
    unbindPair(Pair::Disconnected);
    state = Connecting;
    connectingStep = 0;
    queryApp();
}

void VX4Interface::disconnectedTimeoutHandler(const VX4Message &)
{
    queryApp();
}

// ---- Firmware download ----------------------------------------------------------------------

bool VX4Interface::startFirmwareUpdate(const QList<ProgramMemoryRow> &rows)
{
    if (!isOpen()) {
        LOG << "Cannot start a firmware update.  Serial port not open.";
        return false;
    }
    if (firmwareUpdateRunning) {
        LOG << "Cannot start a firmware update while another one runs.";
        return false;
    }
    if (rows.isEmpty()) {
        LOG << "Cannot start a firmware update without program memory rows.";
        return false;
    }
    for (const ProgramMemoryRow &row : rows) {
        // A row that cannot be sent would leave the download waiting for an answer for ever.
        if (row.words.size() != ProgramRowWords || row.address == ProgramMemoryRow::NoAddress) {
            LOG << "Cannot start a firmware update with a malformed row:" << row.toString();
            return false;
        }
    }
    firmwareRows = rows;
    firmwareRowIndex = 0;
    firmwareFailureCount = 0;
    pollForConnectionChange(false);
    firmwareUpdateState = AwaitAppQuery;
    firmwareUpdateRunning = true;
    emit vx4FirmwareUpdateStarted();
    bindPair(Pair::FirmwareUpdate);
    queryApp();
    return true;
}

void VX4Interface::finishFirmwareUpdate()
{
    firmwareRowIndex = 0;
    firmwareUpdateState = AwaitAppQuery;
    firmwareUpdateRunning = false;
    unbindPair(Pair::FirmwareUpdate);
    resetDevice();
    pollForConnectionChange(true);
}

void VX4Interface::logUnexpected(const VX4Message &msg, const char *expectation)
{
    LOG << "Received:" << msg.toString() << "\n" << expectation;
}

bool VX4Interface::buildMergedRow(const VX4Message &readAnswer)
{
    // A short answer would leave words of the row undefined: count it as a failed read.
    if (readAnswer.payload.size() < ProgramRowBytes)
        return false;
    const ProgramMemoryRow &row = firmwareRows.at(firmwareRowIndex);
    mergedRow = ProgramMemoryRow(ProgramRowWords);
    mergedRow.address = row.address;
    const QByteArray &p = readAnswer.payload;
    for (int k = 0; k < ProgramRowWords; ++k) {
        const quint32 current = (quint32(quint8(p.at(2 * k))) << 8) | quint8(p.at(2 * k + 1));
        const quint32 image = row.words.at(k);
        mergedRow.words[k] = image == ProgramMemoryRow::NoData ? current : image;
    }
    return true;
}

void VX4Interface::firmwareUpdateMsgHandler(const VX4Message &msg)
{
    LOG << "firmwareUpdateMsgHandler called.";
    const quint8 c = msg.command;
    const quint8 p = msg.payload.isEmpty() ? 0 : quint8(msg.payload.at(0));

    // Once the bootloader is confirmed, answers to the application queries still under way (the
    // connecting sequence's own and the delayed one) are no failure: counting them would re-send
    // the state's request and have every later row read and written twice.
    if (c == AppQuery && firmwareUpdateState >= AwaitEepromWrite) {
        LOG << "Ignoring a late application query answer.";
        return;
    }

    switch (firmwareUpdateState) {
    case AwaitAppQuery:
        if (c != AppQuery) {
            logUnexpected(msg, "Was expecting an application query message");
            ++firmwareFailureCount;
            queryApp();
        } else if (p == PressureSendingApp) {
            LOG << "Switching to the bootloader application.";
            firmwareUpdateState = AwaitAppChange;
            changeApp();
            firmwareFailureCount = 0;
        } else if (p == Bootloader) {
            LOG << "Bootloader application is already running.";
            firmwareUpdateState = AwaitEepromWrite;
            writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
            firmwareFailureCount = 0;
        } else {
            LOG << "Pressure sender is running an app of unknown type.";
            ++firmwareFailureCount;
            queryApp();
        }
        break;
    case AwaitAppChange:
        if (c == AppChange && p == 0) {
            firmwareUpdateState = AwaitBootloader;
            QTimer::singleShot(BootloaderStartMs, this, &VX4Interface::onAppQueryTimerTimeout);
            firmwareFailureCount = 0;
        } else {
            ++firmwareFailureCount;
            changeApp();
        }
        break;
    case AwaitBootloader:
        if (c == AppQuery && p == Bootloader) {
            firmwareFailureCount = 0;
            firmwareUpdateState = AwaitEepromWrite;
            writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
        } else {
            firmwareUpdateState = AwaitAppChange;
            changeApp();
            ++firmwareFailureCount;
        }
        break;
    case AwaitEepromWrite:
        if (c == WriteEeprom) {
            const quint32 address = firmwareRows.at(firmwareRowIndex).address;
            LOG << "Reading program memory @ row address:" << address;
            firmwareUpdateState = AwaitRowRead;
            readProgramMemory(address);
            firmwareFailureCount = 0;
        } else {
            logUnexpected(msg, "Was expecting an write to EEPROM message.");
            ++firmwareFailureCount;
            writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
        }
        break;
    case AwaitRowRead:
        if (c == ReadProgMem && buildMergedRow(msg)) {
            firmwareUpdateState = AwaitRowWrite;
            writeProgramMemory(mergedRow);
            emit vx4FirmwareUpdateProgressChanged(firmwareRowIndex);
            ++firmwareRowIndex;
            firmwareFailureCount = 0;
        } else {
            logUnexpected(msg, "Was expecting an read from program memory message.");
            ++firmwareFailureCount;
            readProgramMemory(firmwareRows.at(firmwareRowIndex).address);
        }
        break;
    case AwaitRowWrite:
        if (c == WriteProgMem && p == WriteConfirmed) {
            if (firmwareRowIndex < firmwareRows.size()) {
                firmwareUpdateState = AwaitRowRead;
                readProgramMemory(firmwareRows.at(firmwareRowIndex).address);
                firmwareFailureCount = 0;
            } else {
                emit vx4FirmwareUpdateProgressChanged(int(firmwareRows.size()));
                firmwareUpdateRunning = false;
                emit vx4FirmwareUpdateFinished(true, tr("Firmware update completed successfully!"));
                writeEeprom(EepromBootFlagAddress, EepromBootFlagValid);
                finishFirmwareUpdate();
            }
        } else {
            // A write the sender did not confirm is sent again, like a wrong answer.
            logUnexpected(msg, "Was expecting an write to program memory message.");
            ++firmwareFailureCount;
            writeProgramMemory(mergedRow);
        }
        break;
    default:
        break;
    }
    abortFirmwareUpdateIfFailing();
}

void VX4Interface::abortFirmwareUpdateIfFailing()
{
    if (firmwareFailureCount <= MaxFirmwareFailures)
        return;
    const int failedState = firmwareUpdateState;
    firmwareFailureCount = 0;
    firmwareUpdateState = AwaitAppQuery;
    firmwareUpdateRunning = false;
    unbindPair(Pair::FirmwareUpdate);
    emit vx4FirmwareUpdateFinished(
        false,
        tr("Aborting firmware update.  Failed more than %1 times for state %2")
            .arg(MaxFirmwareFailures)
            .arg(failedState));
}

void VX4Interface::firmwareUpdateTimeoutHandler(const VX4Message &)
{
    LOG << "firmwareUpdateTimeoutHandler called.";
    QString text;
    switch (firmwareUpdateState) {
    case AwaitAppQuery:
    case AwaitBootloader:
        text = tr("Timeout while waiting for application query response.");
        break;
    case AwaitAppChange:
        text = tr("Timeout while waiting for application change response.");
        break;
    case AwaitEepromWrite:
        text = tr("Timeout while waiting for write to EEPROM response.");
        break;
    case AwaitRowRead:
        text = tr("Timeout while waiting for read from program memory response.");
        break;
    default:
        text = tr("Timeout while waiting for write to program memory response.");
        break;
    }
    firmwareUpdateRunning = false;
    emit vx4FirmwareUpdateFinished(false, text);
    unbindPair(Pair::FirmwareUpdate);
    firmwareUpdateState = AwaitAppQuery;
    startConnecting();
}

// ---- Device status --------------------------------------------------------------------------

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
    case AppQuery:
    case AppChange: {
        const VX4App decoded = VX4Decode::app(msg.payload);
        if (decoded == m_app)
            return;
        m_app = decoded;
        LOG << "Emitting vx4AppChanged signal";
        emit vx4AppChanged(m_app);
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
    const QString number = QStringLiteral("%1").arg(m_serialNumber, 4, 10, QLatin1Char('0'));
    if (firmwareMajorVersion <= 4)
        return QStringLiteral("OVX4-%1").arg(number);
    if (firmwareMajorVersion == VX4Decode::UnknownFirmwareMajor) {
        requestSerialNumber();
        return QString();
    }
    return QStringLiteral("OVX%1-%2").arg(firmwareMajorVersion).arg(number);
}

double VX4Interface::adCountsToVolts(const VX4Message &msg)
{
    if (msg.payload.size() < 3) {
        LOG << "payload length < 3";
        return 0;
    }
    switch (quint8(msg.payload.at(0))) {
    case 0: {
        const qint16 counts = qint16((quint8(msg.payload.at(1)) << 8) | quint8(msg.payload.at(2)));
        return double(float(counts) / 32767.0f * 3.0f);
    }
    case 1:
        LOG << "A/D reported a timeout";
        return 0;
    case 2:
        LOG << "NACK received from A/D";
        return 0;
    case 3:
        LOG << "ADS1100 configuration byte != 0x8C";
        return 0;
    default:
        return 0;
    }
}
