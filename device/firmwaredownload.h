#pragma once

#include "VX4message.h"
#include "programmemoryrow.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QList>

class QTimer;
class VX4Interface;

/// The firmware download inside the engine: takes the sender into its bootloader, writes the rows
/// with a read-modify-write each, reads each written row back, and only then marks the image
/// valid. Reports through the engine's signals. The engine owns it and routes the answers and
/// time-outs of its firmware handler pair here.
class FirmwareDownload
{
    // The texts the technician sees keep the engine's translation context.
    Q_DECLARE_TR_FUNCTIONS(VX4Interface)

public:
    /// Where a download stands. The awaiting phases wait for one answer each; their numbers are
    /// the state numbers of the abort text.
    enum class Phase {
        Idle = -2, ///< no download
        WaitingForLine = -1, ///< started; requests queued before it are still to be answered
        AwaitAppQuery = 0,
        AwaitAppChange = 1,
        AwaitBootloader = 2,
        AwaitEepromWrite = 3,
        AwaitRowRead = 4,
        AwaitRowWrite = 5,
        AwaitRowVerify = 6, ///< the written row is read back
        AwaitValidFlag = 7, ///< WRITE EEPROM of the valid flag, after every row verified
    };

    explicit FirmwareDownload(VX4Interface &engine);
    ~FirmwareDownload();

    bool start(const QList<ProgramMemoryRow> &rows, bool verify);
    /// The command queue ran empty: a download waiting for the line begins. True if one did.
    bool lineFree();
    void finish();
    void onAnswer(const VX4Message &msg);
    void onTimeout(const VX4Message &msg);
    /// The port went away under a running download: it fails with `reason`.
    void portLost(const QString &reason);

    Phase phase() const { return m_phase; }
    bool isRunning() const { return m_phase != Phase::Idle; }

private:
    void begin();
    void sendSettleQuery();
    void sendAppChange();
    void sendRowRead();
    void sendRowWrite();
    void sendValidFlag();
    void advanceRow();
    void succeed();
    void stop();
    void fail(const QString &text);
    void logUnexpected(const VX4Message &msg, const char *expectation);
    bool buildMergedRow(const VX4Message &readAnswer);
    bool rowReadBackMatches(const VX4Message &readAnswer) const;
    void abortIfFailing();
    quint32 currentRowAddress() const { return rows.at(rowIndex).address; }

    VX4Interface &engine;
    Phase m_phase = Phase::Idle;
    QList<ProgramMemoryRow> rows;
    int rowIndex = 0;
    int failureCount = 0;
    int appChanges = 0; ///< APP CHANGE requests sent by this download
    int skippedRows = 0; ///< rows that already held the image
    bool verify = true;
    bool rowProgressShown = false; ///< progress reported for the current row
    QString pendingAbortText; ///< a failure that has its own abort text
    quint32 awaitedSerial = 0; ///< the download's request on the line; others are not its own
    QTimer *settleTimer = nullptr;
    QTimer *deferTimer = nullptr;
    ProgramMemoryRow mergedRow { VX4Protocol::ProgramRowWords };
};
