// The command queue: one request on the wire at a time, its time-outs and resends, the fence that
// proves late answers gone before an answer of their command is trusted again, and interruption.
#include "VX4interface.h"

#include "vx4protocol.h"

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
} // namespace

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
    const quint8 command = messageQueue.first().command;
    if (lateCommands.contains(command) && !messageQueue.first().fence) {
        // Answers carry no identifier: a late answer to an earlier request of this command would
        // pass for this one's. The sender answers in order, so the answer to a query of another
        // command sent now comes after every late one.
        const int fence = fenceCommand(command);
        if (fence < 0) {
            LOG << "No other query proves the line clean; sending:"
                << messageQueue.first().toString();
        } else {
            QByteArray address;
            if (fence == ReadProgMem)
                address = QByteArray(3, '\0');
            VX4Message proof = request(quint8(fence), address);
            // No serial: the request enqueued last stays the caller's.
            proof.fence = true;
            LOG << "Proving the line clean before sending another"
                << VX4Message::commandName(command) << ":" << proof.toString();
            messageQueue.prepend(proof);
        }
    }
    sendMessage(messageQueue.first());
}

int VX4Interface::fenceCommand(quint8 lateCommand) const
{
    QList<quint8> candidates;
    if (lateCommand != AppQuery) {
        candidates = { AppQuery };
    } else if (state == Connected && !download.isSwitching()) {
        // Only APP QUERY is answered by both applications; another query must be one the
        // application found answers, which is known only while no switch is under way.
        if (m_app == PressureSendingApp)
            candidates = { GetFirmVer, ModeQuery };
        else if (m_app == Bootloader)
            candidates = { ReadProgMem };
    }
    for (quint8 candidate : candidates) {
        if (!lateCommands.contains(candidate))
            return candidate;
    }
    return -1;
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
    msg.lastSend = ++writeCount;
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

void VX4Interface::markLate(const VX4Message &request)
{
    const CommandInfo *info = commandInfo(request.command);
    if (!info || info->answerLength == 0 || request.sendCount == 0)
        return;
    LOG << "A late answer to" << VX4Message::commandName(request.command)
        << "may still come: its next answer counts only on a clean line.";
    lateCommands.insert(request.command, request.lastSend);
}

void VX4Interface::answerHead(const VX4Message &answer)
{
    messageTimer->stop();
    const VX4Message head = removeHeadMessage();
    answeredSerial = head.serial;
    // An answer to a request sent after every send of a late one comes after the late answers:
    // those commands are clean again. An answer of a late command itself proves nothing.
    if (!lateCommands.contains(head.command)) {
        const quint32 firstSend = head.lastSend - head.sendCount + 1;
        for (auto late = lateCommands.begin(); late != lateCommands.end();)
            late = late.value() < firstSend ? lateCommands.erase(late) : std::next(late);
    }
    if (head.sendCount > 1)
        markLate(head);
    if (head.fence)
        LOG << "The line is clean again.";
    else
        emit vx4ResponseRdy(answer);
    if (interruptPending)
        completeInterrupt(head.fence ? nullptr : &answer);
    else
        sendNextMessage();
}

void VX4Interface::giveUpHead()
{
    VX4Message givenUp = removeHeadMessage();
    markLate(givenUp);
    if (givenUp.fence && !messageQueue.isEmpty() && !messageQueue.first().sent) {
        // Unproven, the request waiting for the proof cannot go out: it is given up with it.
        LOG << "The line was not proven clean; giving up" << messageQueue.first().toString();
        givenUp = removeHeadMessage();
    }
    if (!givenUp.fence)
        emit vx4MessageTimeout(givenUp);
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
    giveUpHead();
    if (interruptPending)
        completeInterrupt(nullptr);
    else
        sendNextMessage();
}

void VX4Interface::interrupt()
{
    LOG << "Interrupted: nothing new is sent.";
    quiet = true;
    pollForConnectionChange(false);
    // No handler may answer what still comes with a request of its own.
    unbindPair(Pair::Connecting);
    unbindPair(Pair::Connected);
    unbindPair(Pair::Disconnected);
    unbindPair(Pair::FirmwareUpdate);
    const bool onWire = !messageQueue.isEmpty() && messageQueue.first().sent;
    messageQueue.erase(messageQueue.begin() + (onWire ? 1 : 0), messageQueue.end());
    if (!onWire) {
        completeInterrupt(nullptr);
        return;
    }
    // The request on the wire gets its answer or its time-out, but no further send.
    VX4Message &head = messageQueue.first();
    head.maxSends = head.sendCount;
    interruptPending = true;
}

void VX4Interface::completeInterrupt(const VX4Message *answer)
{
    interruptPending = false;
    download.interrupted(answer, answeredSerial);
    QMetaObject::invokeMethod(this, &VX4Interface::vx4Interrupted, Qt::QueuedConnection);
    // A request made since the interruption goes out.
    sendNextMessage();
}
