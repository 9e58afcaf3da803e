#pragma once

#include "VX4message.h"
#include "programmemoryrow.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

    /// Rows of the running or last download.
    struct Counts
    {
        int total = 0; ///< rows in the download
        int written = 0; ///< rows whose write the sender confirmed; a row written twice counts once
        int skipped = 0; ///< rows that already held the image and were left alone
        int verified = 0; ///< written rows read back equal to what was written (0 without
                          ///< verification)
    };

    /// Where a download that ended left the sender.
    enum class SenderState {
        Untouched, ///< nothing was changed: it ended before the sender was switched or written
        InBootloaderImageIncomplete, ///< the valid flag was cleared; rows are missing or unverified
        InBootloaderImageNotValid, ///< every row verified, but the valid flag was not confirmed
        Updated, ///< the image is written, verified and marked valid
        Unknown, ///< the port was lost, or what the sender holds cannot be told
    };

    /// One sentence naming `state` and the technician's next step.
    static QString senderStateText(SenderState state);

    explicit FirmwareDownload(VX4Interface &engine);
    ~FirmwareDownload();

    bool start(const QList<ProgramMemoryRow> &rows, bool verify, const QString &imageVersion);
    /// The command queue ran empty: a download waiting for the line begins. True if one did.
    bool lineFree();
    void finish();
    void onAnswer(const VX4Message &msg);
    void onTimeout(const VX4Message &msg);
    /// The port went away under a running download: it fails with `reason`.
    void portLost(const QString &reason);
    /// The engine stops sending: a running download ends once the request on the wire is done;
    /// `answer` is that request's answer, or null when it timed out or none was on the wire.
    void interrupted(const VX4Message *answer, quint32 answeredSerial);
    /// The engine finished connecting to a sender running `app`.
    void senderConnected(VX4App app);

    Phase phase() const { return m_phase; }
    bool isRunning() const { return m_phase != Phase::Idle; }
    /// The sender was asked to start its bootloader and has not been found there yet.
    bool isSwitching() const
    {
        return m_phase == Phase::AwaitAppChange || m_phase == Phase::AwaitBootloader;
    }
    const Counts &counts() const { return m_counts; }
    SenderState senderState() const;

private:
    static QString queryTimeoutText();
    void begin();
    void sendSettleQuery();
    void sendAppChange();
    void sendRowRead();
    void startRow();
    void sendRowWrite();
    void sendValidFlag();
    void send(void (VX4Interface::*request)());
    void advanceRow();
    void succeed();
    void stop();
    void fail(const QString &text);
    void logUnexpected(const VX4Message &msg, const char *expectation);
    bool buildMergedRow(const VX4Message &readAnswer);
    bool rowReadBackMatches(const VX4Message &readAnswer) const;
    void noteWritten();
    void noteVerified();
    void abortIfFailing();
    void handleAppQuery(const VX4Message &msg);
    void handleBootloaderQuery(const VX4Message &msg);
    void handleRowAnswer(const VX4Message &msg);
    void endReadBack(bool answered, const QString &version);
    /// Within the time an application may take to start its bootloader after acknowledging.
    bool bootloaderMayStillStart() const;
    quint32 currentRowAddress() const { return rows.at(rowIndex).address; }

    VX4Interface &engine;
    Phase m_phase = Phase::Idle;
    QList<ProgramMemoryRow> rows;
    int rowIndex = 0;
    int failureCount = 0;
    int appChanges = 0; ///< APP CHANGE requests sent by this download
    bool verify = true;
    bool writeFirst = false; ///< a new version: rows the image covers whole are not read first
    QString pendingAbortText; ///< a failure that has its own abort text
    quint32 awaitedSerial = 0; ///< the download's request on the line; others are not its own
    QTimer *settleTimer = nullptr;
    QTimer *deferTimer = nullptr;
    QTimer *readBackTimer = nullptr; ///< the restarted sender's limit to connect again
    QElapsedTimer sinceAppChangeAck; ///< since the last APP CHANGE was acknowledged
    ProgramMemoryRow mergedRow { VX4Protocol::ProgramRowWords };

    // What the last download did, for its counts and where it left the sender.
    Counts m_counts;
    QList<bool> rowWritten; ///< per row: a write was confirmed
    QList<bool> rowVerified; ///< per row: read back as written
    bool startedInBootloader = false;
    bool switchUnsure = false; ///< APP CHANGE went out and the bootloader has not answered since
    bool invalidFlagSent = false;
    bool invalidFlagConfirmed = false;
    bool validFlagSent = false;
    bool validFlagConfirmed = false;
    bool lost = false;
    // After success: the sender's restart is awaited.
    bool awaitingReadBack = false;
    bool bootloaderAfterReset = false;
    quint32 resetSerial = 0;
};
