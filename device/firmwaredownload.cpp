#include "firmwaredownload.h"

#include "VX4interface.h"
#include "bytes.h"

#include <QDebug>
#include <QTimer>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;

namespace {
QString queryTimeoutText()
{
    return FirmwareDownload::tr("Timeout while waiting for application query response.");
}
} // namespace

FirmwareDownload::FirmwareDownload(VX4Interface &engine)
    : engine(engine)
    , settleTimer(new QTimer)
    , deferTimer(new QTimer)
{
    // Protocol bounds: a coarse timer may fire up to 5 % early.
    settleTimer->setTimerType(Qt::PreciseTimer);
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(BootloaderStartMs);
    QObject::connect(settleTimer, &QTimer::timeout, &engine, [this] { sendSettleQuery(); });
    deferTimer->setTimerType(Qt::PreciseTimer);
    deferTimer->setSingleShot(true);
    deferTimer->setInterval(DeferredStartLimitMs);
    QObject::connect(deferTimer, &QTimer::timeout, &engine, [this] {
        if (m_phase != Phase::WaitingForLine)
            return;
        LOG << "The requests queued before the firmware update did not end in time.";
        fail(queryTimeoutText());
        this->engine.startConnecting();
    });
}

FirmwareDownload::~FirmwareDownload()
{
    delete settleTimer;
    delete deferTimer;
}

bool FirmwareDownload::start(const QList<ProgramMemoryRow> &newRows, bool verifyRows)
{
    if (!engine.isOpen()) {
        LOG << "Cannot start a firmware update.  Serial port not open.";
        return false;
    }
    if (isRunning()) {
        LOG << "Cannot start a firmware update while another one runs.";
        return false;
    }
    if (newRows.isEmpty()) {
        LOG << "Cannot start a firmware update without program memory rows.";
        return false;
    }
    for (const ProgramMemoryRow &row : newRows) {
        // A row that cannot be sent would leave the download waiting for an answer for ever.
        if (row.words.size() != ProgramRowWords || row.address == ProgramMemoryRow::NoAddress) {
            LOG << "Cannot start a firmware update with a malformed row:" << row.toString();
            return false;
        }
    }
    rows = newRows;
    verify = verifyRows;
    rowIndex = 0;
    failureCount = 0;
    appChanges = 0;
    skippedRows = 0;
    rowProgressShown = false;
    awaitedSerial = 0;
    engine.pollForConnectionChange(false);
    m_phase = Phase::WaitingForLine;
    emit engine.vx4FirmwareUpdateStarted();
    // Answers carry no identifier: a request still on the line would have its answer taken for
    // the download's own application query, so the download waits until the line is free, but
    // not for ever.
    if (engine.queuedMessages().isEmpty()) {
        begin();
    } else {
        LOG << "Firmware update waits for the requests already queued.";
        deferTimer->start();
    }
    return true;
}

bool FirmwareDownload::lineFree()
{
    if (m_phase != Phase::WaitingForLine)
        return false;
    begin();
    return true;
}

void FirmwareDownload::begin()
{
    deferTimer->stop();
    m_phase = Phase::AwaitAppQuery;
    engine.bindPair(VX4Interface::Pair::FirmwareUpdate);
    engine.queryApp();
    awaitedSerial = engine.lastSerial;
}

void FirmwareDownload::stop()
{
    m_phase = Phase::Idle;
    awaitedSerial = 0;
    settleTimer->stop();
    deferTimer->stop();
    engine.unbindPair(VX4Interface::Pair::FirmwareUpdate);
}

void FirmwareDownload::finish()
{
    rowIndex = 0;
    stop();
    engine.resetDevice();
    engine.pollForConnectionChange(true);
}

void FirmwareDownload::fail(const QString &text)
{
    stop();
    emit engine.vx4FirmwareUpdateFinished(false, text);
}

void FirmwareDownload::portLost(const QString &reason)
{
    if (!isRunning())
        return;
    fail(tr("Firmware update failed: the pressure sender's port was lost (%1).").arg(reason));
}

void FirmwareDownload::sendSettleQuery()
{
    if (m_phase != Phase::AwaitBootloader)
        return;
    engine.queryApp();
    awaitedSerial = engine.lastSerial;
}

void FirmwareDownload::sendAppChange()
{
    m_phase = Phase::AwaitAppChange;
    // A sender that keeps coming back in its application must not be toggled without end.
    if (appChanges >= MaxAppChanges) {
        failureCount = MaxFirmwareFailures + 1;
        return;
    }
    ++appChanges;
    engine.enqueueRequest(AppChange);
    awaitedSerial = engine.lastSerial;
    engine.resetDeviceInfo();
    engine.startConnecting();
}

void FirmwareDownload::sendRowRead()
{
    engine.readProgramMemory(currentRowAddress());
    awaitedSerial = engine.lastSerial;
}

void FirmwareDownload::sendRowWrite()
{
    m_phase = Phase::AwaitRowWrite;
    engine.writeProgramMemory(mergedRow);
    awaitedSerial = engine.lastSerial;
}

void FirmwareDownload::sendValidFlag()
{
    engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagValid);
    awaitedSerial = engine.lastSerial;
}

void FirmwareDownload::logUnexpected(const VX4Message &msg, const char *expectation)
{
    LOG << "Received:" << msg.toString() << "\n" << expectation;
}

bool FirmwareDownload::buildMergedRow(const VX4Message &readAnswer)
{
    // A short answer would leave words of the row undefined: count it as a failed read.
    if (readAnswer.payload.size() < ProgramRowBytes)
        return false;
    const ProgramMemoryRow &row = rows.at(rowIndex);
    mergedRow = ProgramMemoryRow(ProgramRowWords);
    mergedRow.address = row.address;
    for (int k = 0; k < ProgramRowWords; ++k) {
        const quint32 current = VX4Bytes::wordAt(readAnswer.payload, 2 * k);
        const quint32 image = row.words.at(k);
        mergedRow.words[k] = image == ProgramMemoryRow::NoData ? current : image;
    }
    return true;
}

bool FirmwareDownload::rowReadBackMatches(const VX4Message &readAnswer) const
{
    for (int k = 0; k < ProgramRowWords; ++k) {
        if (VX4Bytes::wordAt(readAnswer.payload, 2 * k) != mergedRow.words.at(k))
            return false;
    }
    return true;
}

void FirmwareDownload::advanceRow()
{
    failureCount = 0;
    ++rowIndex;
    rowProgressShown = false;
    if (rowIndex < rows.size()) {
        m_phase = Phase::AwaitRowRead;
        sendRowRead();
        return;
    }
    if (skippedRows > 0)
        LOG << QStringLiteral("Skipped %1 of %2 rows: they already held the image.")
                   .arg(skippedRows)
                   .arg(rows.size());
    // The sender starts the application only once every row is known to hold the image.
    m_phase = Phase::AwaitValidFlag;
    sendValidFlag();
}

void FirmwareDownload::succeed()
{
    LOG << "The sender confirmed the valid flag.";
    finish();
    emit engine.vx4FirmwareUpdateProgressChanged(int(rows.size()));
    emit engine.vx4FirmwareUpdateFinished(true, tr("Firmware update completed successfully!"));
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
        if (c != AppQuery) {
            logUnexpected(msg, "Was expecting an application query message");
            ++failureCount;
            engine.queryApp();
            awaitedSerial = engine.lastSerial;
        } else if (p == PressureSendingApp) {
            LOG << "Switching to the bootloader application.";
            failureCount = 0;
            sendAppChange();
        } else if (p == Bootloader) {
            LOG << "Bootloader application is already running.";
            m_phase = Phase::AwaitEepromWrite;
            engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
            awaitedSerial = engine.lastSerial;
            failureCount = 0;
        } else {
            LOG << "Pressure sender is running an app of unknown type.";
            ++failureCount;
            engine.queryApp();
            awaitedSerial = engine.lastSerial;
        }
        break;
    case Phase::AwaitAppChange:
        if (c == AppChange && p == 0) {
            // The application restarts into the bootloader; it is asked only once it has.
            m_phase = Phase::AwaitBootloader;
            awaitedSerial = 0;
            settleTimer->start();
            failureCount = 0;
        } else {
            ++failureCount;
            sendAppChange();
        }
        break;
    case Phase::AwaitBootloader:
        if (c == AppQuery && p == Bootloader) {
            failureCount = 0;
            m_phase = Phase::AwaitEepromWrite;
            engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
            awaitedSerial = engine.lastSerial;
        } else {
            ++failureCount;
            sendAppChange();
        }
        break;
    case Phase::AwaitEepromWrite:
        if (c == WriteEeprom) {
            const quint32 address = currentRowAddress();
            LOG << "Reading program memory @ row address:" << address;
            m_phase = Phase::AwaitRowRead;
            failureCount = 0;
            sendRowRead();
        } else {
            logUnexpected(msg, "Was expecting an write to EEPROM message.");
            ++failureCount;
            engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
            awaitedSerial = engine.lastSerial;
        }
        break;
    case Phase::AwaitRowRead:
        if (c == ReadProgMem && buildMergedRow(msg)) {
            failureCount = 0;
            const bool alreadyThere = rowReadBackMatches(msg);
            if (alreadyThere) {
                ++skippedRows;
            } else {
                sendRowWrite();
                rowProgressShown = true;
            }
            const int shown = rowIndex;
            if (alreadyThere)
                advanceRow();
            // After the state is updated: a listener may run the event loop.
            emit engine.vx4FirmwareUpdateProgressChanged(shown);
            return;
        }
        logUnexpected(msg, "Was expecting an read from program memory message.");
        ++failureCount;
        sendRowRead();
        break;
    case Phase::AwaitRowWrite:
        if (c == WriteProgMem && p == WriteConfirmed) {
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
