#include "firmwaredownload.h"

#include "VX4interface.h"
#include "bytes.h"
#include "decoding.h"

#include <QDebug>
#include <QTimer>

#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

using namespace VX4Protocol;

namespace {
QTimer *preciseSingleShot(int ms)
{
    // Protocol bounds: a coarse timer may fire up to 5 % early.
    auto *timer = new QTimer;
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(true);
    timer->setInterval(ms);
    return timer;
}

bool coversWholeRow(const ProgramMemoryRow &row)
{
    return !row.words.contains(ProgramMemoryRow::NoData);
}
} // namespace

QString FirmwareDownload::queryTimeoutText()
{
    return tr("Timeout while waiting for application query response.");
}

FirmwareDownload::FirmwareDownload(VX4Interface &engine)
    : engine(engine)
    , settleTimer(preciseSingleShot(BootloaderStartMs))
    , deferTimer(preciseSingleShot(DeferredStartLimitMs))
    , readBackTimer(preciseSingleShot(FirmwareRestartLimitMs))
{
    QObject::connect(settleTimer, &QTimer::timeout, &engine, [this] { sendSettleQuery(); });
    QObject::connect(deferTimer, &QTimer::timeout, &engine, [this] {
        if (m_phase != Phase::WaitingForLine)
            return;
        LOG << "The requests queued before the firmware update did not end in time.";
        fail(queryTimeoutText());
        this->engine.startConnecting();
    });
    QObject::connect(readBackTimer, &QTimer::timeout, &engine, [this] {
        LOG << "The sender did not come back in its application after the reset.";
        endReadBack(bootloaderAfterReset, QString());
    });
}

FirmwareDownload::~FirmwareDownload()
{
    delete settleTimer;
    delete deferTimer;
    delete readBackTimer;
}

bool FirmwareDownload::start(const QList<ProgramMemoryRow> &newRows, bool verifyRows,
                             const QString &imageVersion)
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
        // A row that cannot be sent would leave the download waiting for an answer for ever; an
        // address beyond 24 bits would be cut on the wire and written over low memory.
        if (row.words.size() != ProgramRowWords || row.address == ProgramMemoryRow::NoAddress
            || row.address % ProgramRowWords != 0 || row.address >= ProgramWordSpace) {
            LOG << "Cannot start a firmware update with a malformed row:" << row.toString();
            return false;
        }
    }
    if (awaitingReadBack)
        endReadBack(false, QString());
    rows = newRows;
    verify = verifyRows;
    // Only a sender known to run another version is sure not to hold a row the image covers
    // whole: reading such a row first could only find it different.
    const QString senderVersion = engine.firmwareMajor() == VX4Decode::UnknownFirmwareMajor
        ? QString()
        : engine.firmwareVersionString();
    writeFirst
        = !imageVersion.isEmpty() && !senderVersion.isEmpty() && imageVersion != senderVersion;
    rowIndex = 0;
    failureCount = 0;
    appChanges = 0;
    awaitedSerial = 0;
    m_counts = Counts { int(rows.size()), 0, 0, 0 };
    rowWritten = QList<bool>(rows.size(), false);
    rowVerified = QList<bool>(rows.size(), false);
    startedInBootloader = switchUnsure = lost = false;
    invalidFlagSent = invalidFlagConfirmed = validFlagSent = validFlagConfirmed = false;
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
    resetSerial = engine.lastSerial;
    engine.pollForConnectionChange(true);
}

void FirmwareDownload::fail(const QString &text)
{
    stop();
    emit engine.vx4FirmwareUpdateFinished(false, text);
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
    switchUnsure = true;
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
    validFlagSent = true;
    engine.writeEeprom(EepromBootFlagAddress, EepromBootFlagValid);
    awaitedSerial = engine.lastSerial;
}

void FirmwareDownload::startRow()
{
    const ProgramMemoryRow &row = rows.at(rowIndex);
    if (!writeFirst || !coversWholeRow(row)) {
        m_phase = Phase::AwaitRowRead;
        sendRowRead();
        return;
    }
    // The image gives every word: nothing of the old row survives, so nothing is read first.
    mergedRow = row;
    sendRowWrite();
    emit engine.vx4FirmwareUpdateProgressChanged(rowIndex);
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
    if (readAnswer.payload.size() < ProgramRowBytes)
        return false;
    for (int k = 0; k < ProgramRowWords; ++k) {
        if (VX4Bytes::wordAt(readAnswer.payload, 2 * k) != mergedRow.words.at(k))
            return false;
    }
    return true;
}

void FirmwareDownload::noteWritten()
{
    if (!rowWritten.at(rowIndex))
        ++m_counts.written;
    rowWritten[rowIndex] = true;
}

void FirmwareDownload::noteVerified()
{
    if (!rowVerified.at(rowIndex))
        ++m_counts.verified;
    rowVerified[rowIndex] = true;
}

void FirmwareDownload::advanceRow()
{
    failureCount = 0;
    ++rowIndex;
    if (rowIndex < rows.size()) {
        startRow();
        return;
    }
    if (m_counts.skipped > 0)
        LOG << QStringLiteral("Skipped %1 of %2 rows: they already held the image.")
                   .arg(m_counts.skipped)
                   .arg(rows.size());
    // The sender starts the application only once every row is known to hold the image.
    m_phase = Phase::AwaitValidFlag;
    sendValidFlag();
}

void FirmwareDownload::succeed()
{
    LOG << "The sender confirmed the valid flag.";
    finish();
    // The restarted sender is awaited; armed first, as a listener may run the event loop.
    awaitingReadBack = true;
    bootloaderAfterReset = false;
    readBackTimer->start();
    emit engine.vx4FirmwareUpdateProgressChanged(int(rows.size()));
    emit engine.vx4FirmwareUpdateFinished(true, tr("Firmware update completed successfully!"));
}
