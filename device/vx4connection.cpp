// The connection state machine: the handler pairs, the connecting sequence and the polling.
#include "VX4interface.h"

#include "senderidentity.h"
#include "vx4protocol.h"

#include <QDebug>
#include <QTimer>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;

namespace {
using Handler = void (VX4Interface::*)(const VX4Message &);
} // namespace

// Which slots each pair binds, indexed by Pair.
struct VX4Interface::HandlerPair
{
    Handler onAnswer; ///< bound to vx4ResponseRdy
    Handler onTimeout; ///< bound to vx4MessageTimeout
};

const VX4Interface::HandlerPair &VX4Interface::handlerPair(Pair pair)
{
    static const HandlerPair pairs[] = {
        { &VX4Interface::connectingMsgHandler, &VX4Interface::connectingTimeoutHandler },
        { &VX4Interface::connectedMsgHandler, &VX4Interface::connectedTimeoutHandler },
        { &VX4Interface::disconnectedMsgHandler, &VX4Interface::disconnectedTimeoutHandler },
        { &VX4Interface::firmwareUpdateMsgHandler, &VX4Interface::firmwareUpdateTimeoutHandler },
    };
    static_assert(int(Pair::FirmwareUpdate) == 3, "one row per pair, in the order of Pair");
    return pairs[int(pair)];
}

void VX4Interface::bindPair(Pair pair)
{
    const HandlerPair &handlers = handlerPair(pair);
    connect(this, &VX4Interface::vx4ResponseRdy, this, handlers.onAnswer, Qt::UniqueConnection);
    connect(this, &VX4Interface::vx4MessageTimeout, this, handlers.onTimeout, Qt::UniqueConnection);
}

void VX4Interface::unbindPair(Pair pair)
{
    const HandlerPair &handlers = handlerPair(pair);
    disconnect(this, &VX4Interface::vx4ResponseRdy, this, handlers.onAnswer);
    disconnect(this, &VX4Interface::vx4MessageTimeout, this, handlers.onTimeout);
}

void VX4Interface::startConnecting()
{
    if (state == Connected)
        unbindPair(Pair::Connected);
    else if (state == Disconnected)
        unbindPair(Pair::Disconnected);
    quiet = false;
    state = Connecting;
    connectingStep = 0;
    pollForConnectionChange(false);
    bindPair(Pair::Connecting);
    enqueueMessage(VX4Message(AppQuery, commandInfo(AppQuery)->length,
                              requestTimeoutMs(AppQuery, FastAppQueryTimeoutMs, baudRate()), {},
                              FastAppQueryMaxSends));
}

void VX4Interface::changeApp()
{
    enqueueRequest(AppChange);
    resetDeviceInfo();
    startConnecting();
}

bool VX4Interface::open(OpenMode mode)
{
    if (!portLock.acquire(portName())) {
        setErrorString(portLock.errorString());
        return false;
    }
    if (QSerialPort::open(mode))
        return true;
    portLock.openFailed(error(), errorString());
    setErrorString(portLock.errorString());
    return false;
}

void VX4Interface::close()
{
    // Closed once: a port lost and then closed by the window reports one disconnection.
    const bool wasOpen = isOpen();
    resetDeviceInfo();
    stallTimer->stop();
    QSerialPort::close();
    portLock.release();
    if (wasOpen)
        emit vx4DisconnectedSignal();
}

void VX4Interface::pollForConnectionChange(bool poll)
{
    // Interrupted: nothing is sent until connecting starts again.
    if (quiet)
        poll = false;
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
        // Only an application query tells which application runs: an APP CHANGE answer (00,
        // "accepted") comes from the application that is about to restart.
        if (msg.command != AppQuery)
            return;
        LOG << "Initialization: Received app query response.";
        decodeAnswer(msg);
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
        if (!VX4Identity::firmwareHasAdOffset(firmwareMajorVersion, firmwareMinorVersion)) {
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
    // A download keeps the line to itself: its end switches polling back on.
    const bool poll = !download.isRunning();
    if (finishedApp == Bootloader) {
        state = Connected;
        pollForConnectionChange(poll);
        bindPair(Pair::Connected);
        unbindPair(Pair::Connecting);
        emit vx4ConnectedSignal();
        emit vx4AppChanged(Bootloader);
        connectingStep = 0;
        pollForConnectionChange(poll);
        download.senderConnected(Bootloader);
        return;
    }
    state = Connected;
    connectingStep = 0;
    bindPair(Pair::Connected);
    unbindPair(Pair::Connecting);
    emit vx4ConnectedSignal();
    emit vx4AppChanged(PressureSendingApp);
    pollForConnectionChange(poll);
    download.senderConnected(PressureSendingApp);
}

void VX4Interface::connectingTimeoutHandler(const VX4Message &msg)
{
    LOG << "Timeout while waiting for" << msg.toString();
    // The sender may have restarted into another application: nothing asked so far holds.
    resetDeviceInfo();
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
    // Clearing the queue would take the download's own request with it; it judges its time-outs.
    if (download.isRunning())
        return;
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
