// The download's answers and time-outs: the state machine's transitions.
#include "firmwaredownload.h"

#include "VX4interface.h"

#include <QDebug>
#include <QTimer>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;

namespace {
/// The application an APP QUERY answer names; an empty answer names none.
int answeredApp(const VX4Message &msg)
{
    return msg.payload.isEmpty() ? int(UnknownApp) : quint8(msg.payload.at(0));
}
} // namespace

void FirmwareDownload::handleAppQuery(const VX4Message &msg)
{
    const int app = answeredApp(msg);
    if (msg.command != AppQuery) {
        logUnexpected(msg, "Was expecting an application query message");
    } else if (app == PressureSendingApp) {
        LOG << "Switching to the bootloader application.";
        failureCount = 0;
        sendAppChange();
        return;
    } else if (app == Bootloader) {
        LOG << "Bootloader application is already running.";
        startedInBootloader = true;
        m_phase = Phase::AwaitEepromWrite;
        invalidFlagSent = true;
        engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
        awaitedSerial = engine.lastSerial;
        failureCount = 0;
        return;
    } else {
        // An empty answer names no application: writing the flag could hit a running one.
        LOG << "Pressure sender is running an app of unknown type.";
    }
    ++failureCount;
    engine.queryApp();
    awaitedSerial = engine.lastSerial;
}

void FirmwareDownload::handleBootloaderQuery(const VX4Message &msg)
{
    if (msg.command == AppQuery && answeredApp(msg) == Bootloader) {
        failureCount = 0;
        m_phase = Phase::AwaitEepromWrite;
        invalidFlagSent = true;
        engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
        awaitedSerial = engine.lastSerial;
        return;
    }
    // An application may answer for a while after acknowledging before its bootloader starts:
    // it is asked again, and only an answer after that time counts.
    if (bootloaderMayStillStart()) {
        LOG << "The bootloader has not started yet; asking again.";
        awaitedSerial = 0;
        settleTimer->start(BootloaderAskAgainMs);
        return;
    }
    ++failureCount;
    sendAppChange();
}

bool FirmwareDownload::bootloaderMayStillStart() const
{
    return m_phase == Phase::AwaitBootloader && sinceAppChangeAck.isValid()
        && sinceAppChangeAck.elapsed() < BootloaderStartLimitMs;
}

void FirmwareDownload::handleRowAnswer(const VX4Message &msg)
{
    if (msg.command == ReadProgMem && buildMergedRow(msg)) {
        failureCount = 0;
        const int shown = rowIndex;
        const bool alreadyThere = rowReadBackMatches(msg);
        if (alreadyThere) {
            ++m_counts.skipped;
            advanceRow();
        } else {
            sendRowWrite();
        }
        // After the state is updated: a listener may run the event loop.
        emit engine.vx4FirmwareUpdateProgressChanged(shown);
        return;
    }
    logUnexpected(msg, "Was expecting an read from program memory message.");
    ++failureCount;
    sendRowRead();
    abortIfFailing();
}

void FirmwareDownload::onAnswer(const VX4Message &msg)
{
    LOG << "firmwareUpdateMsgHandler called.";
    // Answers carry no identifier, but the queue knows which request each one answered. Answers
    // to requests the download did not send (a poll on the wire when it started, the connecting
    // sequence's after APP CHANGE, queries sent before the bootloader settle query) are no
    // failure: counting them would toggle the application back or write rows twice.
    if (engine.answeredSerial != awaitedSerial || awaitedSerial == 0) {
        if (msg.command == AppQuery)
            LOG << "Ignoring a late application query answer.";
        else
            LOG << "Ignoring an answer to a request the firmware update did not send:"
                << msg.toString();
        return;
    }

    const quint8 c = msg.command;
    const quint8 p = msg.payload.isEmpty() ? 0 : quint8(msg.payload.at(0));
    switch (m_phase) {
    case Phase::AwaitAppQuery:
        handleAppQuery(msg);
        break;
    case Phase::AwaitAppChange:
        if (c == AppChange && p == 0) {
            // The application restarts into the bootloader; it is asked only once it has.
            m_phase = Phase::AwaitBootloader;
            awaitedSerial = 0;
            sinceAppChangeAck.start();
            settleTimer->start(BootloaderStartMs);
            failureCount = 0;
        } else {
            // Refused: the application stays.
            switchUnsure = false;
            ++failureCount;
            sendAppChange();
        }
        break;
    case Phase::AwaitBootloader:
        handleBootloaderQuery(msg);
        break;
    case Phase::AwaitEepromWrite:
        if (c == WriteEeprom) {
            invalidFlagConfirmed = true;
            LOG << "Reading program memory @ row address:" << currentRowAddress();
            failureCount = 0;
            startRow();
            return;
        }
        logUnexpected(msg, "Was expecting an write to EEPROM message.");
        ++failureCount;
        engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
        awaitedSerial = engine.lastSerial;
        break;
    case Phase::AwaitRowRead:
        handleRowAnswer(msg);
        return;
    case Phase::AwaitRowWrite:
        if (c == WriteProgMem && p == WriteConfirmed) {
            noteWritten();
            if (verify) {
                // The count stays: a row that never reads back right must not loop for ever.
                m_phase = Phase::AwaitRowVerify;
                sendRowRead();
            } else {
                advanceRow();
            }
        } else {
            // A write the sender did not confirm is sent again, like a wrong answer.
            logUnexpected(msg, "Was expecting an write to program memory message.");
            ++failureCount;
            sendRowWrite();
        }
        break;
    case Phase::AwaitRowVerify:
        if (c != ReadProgMem || msg.payload.size() < ProgramRowBytes) {
            logUnexpected(msg, "Was expecting an read from program memory message.");
            ++failureCount;
            sendRowRead();
        } else if (rowReadBackMatches(msg)) {
            noteVerified();
            advanceRow();
        } else {
            const quint32 address = currentRowAddress();
            LOG << "Row read back differs from the row written @ row address:" << address;
            ++failureCount;
            if (failureCount > MaxFirmwareFailures)
                pendingAbortText
                    = tr("Aborting firmware update.  The row at address 0x%1 did not read back "
                         "as written after %2 writes.")
                          .arg(address, 6, 16, QLatin1Char('0'))
                          .arg(failureCount);
            else
                sendRowWrite();
        }
        break;
    case Phase::AwaitValidFlag:
        if (c == WriteEeprom) {
            validFlagConfirmed = true;
            succeed();
            return;
        }
        logUnexpected(msg, "Was expecting an write to EEPROM message.");
        ++failureCount;
        if (failureCount > MaxFirmwareFailures)
            pendingAbortText = tr("Aborting firmware update.  The sender did not confirm the "
                                  "valid flag; the new firmware is not marked valid.");
        else
            sendValidFlag();
        break;
    case Phase::Idle:
    case Phase::WaitingForLine:
        break;
    }
    abortIfFailing();
}

void FirmwareDownload::abortIfFailing()
{
    if (failureCount <= MaxFirmwareFailures)
        return;
    const int failedState = int(m_phase);
    QString text = pendingAbortText;
    pendingAbortText.clear();
    if (text.isEmpty())
        text = tr("Aborting firmware update.  Failed more than %1 times for state %2")
                   .arg(MaxFirmwareFailures)
                   .arg(failedState);
    failureCount = 0;
    fail(text);
    // The sender stays where the download left it, but the engine watches it again.
    engine.pollForConnectionChange(true);
}

void FirmwareDownload::onTimeout(const VX4Message &msg)
{
    LOG << "firmwareUpdateTimeoutHandler called.";
    // A request of the connecting sequence may go unanswered while the sender restarts.
    if (msg.serial != awaitedSerial || awaitedSerial == 0) {
        LOG << "Not the firmware update's request:" << msg.toString();
        return;
    }
    // A starting bootloader may not answer yet: that is no time-out of the download.
    if (bootloaderMayStillStart()) {
        LOG << "No answer while the bootloader starts; asking again.";
        awaitedSerial = 0;
        settleTimer->start(BootloaderAskAgainMs);
        return;
    }
    QString text;
    switch (m_phase) {
    case Phase::AwaitAppQuery:
    case Phase::AwaitBootloader:
        text = queryTimeoutText();
        break;
    case Phase::AwaitAppChange:
        text = tr("Timeout while waiting for application change response.");
        break;
    case Phase::AwaitEepromWrite:
        text = tr("Timeout while waiting for write to EEPROM response.");
        break;
    case Phase::AwaitRowRead:
    case Phase::AwaitRowVerify:
        text = tr("Timeout while waiting for read from program memory response.");
        break;
    case Phase::AwaitValidFlag:
        text = tr("Timeout while waiting for the valid flag write response; the new firmware is "
                  "not marked valid.");
        break;
    default:
        text = tr("Timeout while waiting for write to program memory response.");
        break;
    }
    stop();
    engine.startConnecting();
    emit engine.vx4FirmwareUpdateFinished(false, text);
}
