#include "firmwaredownload.h"

#include "VX4interface.h"
#include "bytes.h"

#include <QDebug>
#include <QTimer>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;

FirmwareDownload::FirmwareDownload(VX4Interface &engine)
    : engine(engine)
{
}

bool FirmwareDownload::start(const QList<ProgramMemoryRow> &newRows)
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
    rowIndex = 0;
    failureCount = 0;
    engine.pollForConnectionChange(false);
    m_phase = Phase::WaitingForLine;
    emit engine.vx4FirmwareUpdateStarted();
    // Answers carry no identifier: a request still on the line would have its answer taken for
    // the download's own application query, so the download waits until the line is free.
    if (engine.queuedMessages().isEmpty())
        begin();
    else
        LOG << "Firmware update waits for the requests already queued.";
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
    m_phase = Phase::AwaitAppQuery;
    engine.bindPair(VX4Interface::Pair::FirmwareUpdate);
    engine.queryApp();
}

void FirmwareDownload::finish()
{
    rowIndex = 0;
    m_phase = Phase::Idle;
    engine.unbindPair(VX4Interface::Pair::FirmwareUpdate);
    engine.resetDevice();
    engine.pollForConnectionChange(true);
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

void FirmwareDownload::onAnswer(const VX4Message &msg)
{
    LOG << "firmwareUpdateMsgHandler called.";
    const quint8 c = msg.command;
    const quint8 p = msg.payload.isEmpty() ? 0 : quint8(msg.payload.at(0));

    // Answers to application queries that no phase awaits (a poll on the wire when the download
    // started, the connecting sequence's own, the delayed one once the bootloader answered) are
    // no failure: counting them would re-send the phase's request, toggling the application
    // twice or having every later row read and written twice.
    if (c == AppQuery && m_phase != Phase::AwaitAppQuery && m_phase != Phase::AwaitBootloader) {
        LOG << "Ignoring a late application query answer.";
        return;
    }

    switch (m_phase) {
    case Phase::AwaitAppQuery:
        if (c != AppQuery) {
            logUnexpected(msg, "Was expecting an application query message");
            ++failureCount;
            engine.queryApp();
        } else if (p == PressureSendingApp) {
            LOG << "Switching to the bootloader application.";
            m_phase = Phase::AwaitAppChange;
            engine.changeApp();
            failureCount = 0;
        } else if (p == Bootloader) {
            LOG << "Bootloader application is already running.";
            m_phase = Phase::AwaitEepromWrite;
            engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
            failureCount = 0;
        } else {
            LOG << "Pressure sender is running an app of unknown type.";
            ++failureCount;
            engine.queryApp();
        }
        break;
    case Phase::AwaitAppChange:
        if (c == AppChange && p == 0) {
            m_phase = Phase::AwaitBootloader;
            QTimer::singleShot(BootloaderStartMs, &engine, &VX4Interface::onAppQueryTimerTimeout);
            failureCount = 0;
        } else {
            ++failureCount;
            engine.changeApp();
        }
        break;
    case Phase::AwaitBootloader:
        if (c == AppQuery && p == Bootloader) {
            failureCount = 0;
            m_phase = Phase::AwaitEepromWrite;
            engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
        } else {
            m_phase = Phase::AwaitAppChange;
            engine.changeApp();
            ++failureCount;
        }
        break;
    case Phase::AwaitEepromWrite:
        if (c == WriteEeprom) {
            const quint32 address = currentRowAddress();
            LOG << "Reading program memory @ row address:" << address;
            m_phase = Phase::AwaitRowRead;
            engine.readProgramMemory(address);
            failureCount = 0;
        } else {
            logUnexpected(msg, "Was expecting an write to EEPROM message.");
            ++failureCount;
            engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagInvalid);
        }
        break;
    case Phase::AwaitRowRead:
        if (c == ReadProgMem && buildMergedRow(msg)) {
            m_phase = Phase::AwaitRowWrite;
            engine.writeProgramMemory(mergedRow);
            emit engine.vx4FirmwareUpdateProgressChanged(rowIndex);
            ++rowIndex;
            failureCount = 0;
        } else {
            logUnexpected(msg, "Was expecting an read from program memory message.");
            ++failureCount;
            engine.readProgramMemory(currentRowAddress());
        }
        break;
    case Phase::AwaitRowWrite:
        if (c == WriteProgMem && p == WriteConfirmed) {
            if (rowIndex < rows.size()) {
                m_phase = Phase::AwaitRowRead;
                engine.readProgramMemory(currentRowAddress());
                failureCount = 0;
            } else {
                emit engine.vx4FirmwareUpdateProgressChanged(int(rows.size()));
                m_phase = Phase::Idle;
                emit engine.vx4FirmwareUpdateFinished(
                    true, tr("Firmware update completed successfully!"));
                engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagValid);
                finish();
            }
        } else {
            // A write the sender did not confirm is sent again, like a wrong answer.
            logUnexpected(msg, "Was expecting an write to program memory message.");
            ++failureCount;
            engine.writeProgramMemory(mergedRow);
        }
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
    failureCount = 0;
    m_phase = Phase::Idle;
    engine.unbindPair(VX4Interface::Pair::FirmwareUpdate);
    emit engine.vx4FirmwareUpdateFinished(
        false,
        tr("Aborting firmware update.  Failed more than %1 times for state %2")
            .arg(MaxFirmwareFailures)
            .arg(failedState));
}

void FirmwareDownload::onTimeout()
{
    LOG << "firmwareUpdateTimeoutHandler called.";
    QString text;
    switch (m_phase) {
    case Phase::AwaitAppQuery:
    case Phase::AwaitBootloader:
        text = tr("Timeout while waiting for application query response.");
        break;
    case Phase::AwaitAppChange:
        text = tr("Timeout while waiting for application change response.");
        break;
    case Phase::AwaitEepromWrite:
        text = tr("Timeout while waiting for write to EEPROM response.");
        break;
    case Phase::AwaitRowRead:
        text = tr("Timeout while waiting for read from program memory response.");
        break;
    default:
        text = tr("Timeout while waiting for write to program memory response.");
        break;
    }
    m_phase = Phase::Idle;
    emit engine.vx4FirmwareUpdateFinished(false, text);
    engine.unbindPair(VX4Interface::Pair::FirmwareUpdate);
    engine.startConnecting();
}
