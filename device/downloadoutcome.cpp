// How a download ended: where it left the sender, the read-back of the restarted sender, and the
// ends the engine imposes (a lost port, an interruption).
#include "firmwaredownload.h"

#include "VX4interface.h"

#include <QDebug>
#include <QTimer>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;

QString FirmwareDownload::senderStateText(SenderState state)
{
    switch (state) {
    case SenderState::Untouched:
        return tr("The sender was not changed: it is as it was before the update. Run the update "
                  "again once the cause is removed.");
    case SenderState::InBootloaderImageIncomplete:
        return tr("The sender is in its bootloader and its image is incomplete: run the update "
                  "again.");
    case SenderState::InBootloaderImageNotValid:
        return tr("The sender is in its bootloader; every row was written and verified, but the "
                  "image is not marked valid: run the update again.");
    case SenderState::Updated:
        return tr("The sender holds the new firmware, verified and marked valid; it starts it "
                  "when it restarts.");
    case SenderState::Unknown:
        break;
    }
    return tr("Where the update left the sender is not known: check that it answers, then run the "
              "update again.");
}

FirmwareDownload::SenderState FirmwareDownload::senderState() const
{
    // Only what the sender confirmed counts; a request it may or may not have carried out
    // leaves the state unknown.
    if (validFlagConfirmed)
        return SenderState::Updated;
    if (lost)
        return SenderState::Unknown;
    if (validFlagSent)
        return SenderState::InBootloaderImageNotValid;
    if (invalidFlagConfirmed)
        return SenderState::InBootloaderImageIncomplete;
    if (invalidFlagSent || switchUnsure)
        return SenderState::Unknown;
    return SenderState::Untouched;
}

void FirmwareDownload::portLost(const QString &reason)
{
    if (awaitingReadBack)
        endReadBack(false, QString());
    if (!isRunning())
        return;
    lost = true;
    fail(tr("Firmware update failed: the pressure sender's port was lost (%1).").arg(reason));
}

void FirmwareDownload::interrupted(const VX4Message *answer, quint32 answeredSerial)
{
    if (awaitingReadBack)
        endReadBack(false, QString());
    if (!isRunning())
        return;
    // The last answer still tells what the sender did with the request it had.
    if (answer && answeredSerial == awaitedSerial && awaitedSerial != 0) {
        const bool confirmedWrite
            = !answer->payload.isEmpty() && quint8(answer->payload.at(0)) == WriteConfirmed;
        switch (m_phase) {
        case Phase::AwaitEepromWrite:
            invalidFlagConfirmed = answer->command == WriteEeprom;
            break;
        case Phase::AwaitRowWrite:
            if (answer->command == WriteProgMem && confirmedWrite)
                noteWritten();
            break;
        case Phase::AwaitRowVerify:
            if (answer->command == ReadProgMem && rowReadBackMatches(*answer))
                noteVerified();
            break;
        case Phase::AwaitValidFlag:
            validFlagConfirmed = answer->command == WriteEeprom;
            break;
        default:
            break;
        }
    }
    LOG << "Firmware update interrupted.";
    fail(tr("Firmware update interrupted."));
}

void FirmwareDownload::senderConnected(VX4App app)
{
    if (!awaitingReadBack)
        return;
    // A connection finished before the RESET went out is the sender as it was.
    for (const VX4Message &queued : engine.queuedMessages()) {
        if (queued.serial == resetSerial)
            return;
    }
    if (app != PressureSendingApp) {
        bootloaderAfterReset = true;
        return;
    }
    endReadBack(true, engine.firmwareVersionString());
}

void FirmwareDownload::endReadBack(bool answered, const QString &version)
{
    awaitingReadBack = false;
    readBackTimer->stop();
    LOG << "Read-back after the reset:" << (answered ? "answered" : "no answer") << version;
    emit engine.vx4FirmwareReadBack(answered, version);
}
