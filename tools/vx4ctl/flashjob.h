#pragma once

#include "firmwaredownload.h"
#include "portsettings.h"
#include "programmemoryrow.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>

class SenderSession;

/// One sender's part of a flash: opens its port, connects, downloads the rows, and waits for the
/// restarted sender to report its firmware version, which must be the package's. Runs on the
/// event loop beside the others; an interruption stops it at the engine's next safe point.
class FlashJob : public QObject
{
    Q_OBJECT

public:
    static constexpr int ImageBytesPerRow = 128; ///< 64 words of 16 bits
    static constexpr int ReadBackLimitMs = 15000; ///< beyond the engine's own wait for the restart
    static constexpr int InterruptLimitMs = 10000; ///< beyond one request's time-out

    enum class State { Waiting, Connecting, Downloading, Restarting, Done, Failed, Interrupted };

    /// `packageVersion` is "2.5" for a package, empty for a plain HEX file.
    FlashJob(const QString &port, const PortSettings &settings, const QList<ProgramMemoryRow> &rows,
             bool verify, int connectTimeoutMs, const QString &packageVersion);
    ~FlashJob() override;

    void start();
    /// Stops at the engine's next safe point; the job ends as interrupted with `exitCode`.
    void interrupt(int exitCode);

    QString port() const { return m_port; }
    State state() const { return m_state; }
    bool isOver() const { return m_state >= State::Done; }
    /// Asked to stop and still waiting for the line to be quiet.
    bool isInterrupting() const { return m_interruptCode != 0 && !isOver(); }
    int exitCode() const { return m_exitCode; }
    /// done, failed, no answer, not opened or interrupted.
    QString resultName() const;
    /// The outcome: the engine's text and, unless the sender took the image, where it was left.
    QString message() const { return m_message; }
    /// The engine's counts of the download (zeros when none started).
    const FirmwareDownload::Counts &counts() const { return m_counts; }
    /// Rows done: as the download reports them while it runs; once over, the rows written or
    /// skipped.
    int rowsDone() const;
    int rowCount() const { return int(m_rows.size()); }
    /// The version the restarted sender reported; empty when it did not.
    QString versionReadBack() const { return m_versionReadBack; }
    /// Since the job started, the port's opening included; the whole job once over.
    double elapsedMs() const;
    /// Image bytes written per second so far.
    double bytesPerSecond() const;
    /// Seconds until the last row at the rate so far; negative while unknown.
    double secondsLeft() const;

signals:
    void progressed();
    void over();

private:
    void finish(State state, int exitCode, const QString &message);
    void onDownloadFinished(bool ok, const QString &message);
    void onReadBack(bool answered, const QString &version);
    /// Where the last download left the sender, as a sentence with the next step.
    QString senderState() const;
    double downloadMs() const;

    QString m_port;
    PortSettings m_settings;
    QList<ProgramMemoryRow> m_rows;
    bool m_verify;
    int m_connectTimeoutMs;
    QString m_packageVersion;
    std::unique_ptr<SenderSession> m_session;
    State m_state = State::Waiting;
    int m_exitCode = 0;
    int m_interruptCode = 0; ///< the exit code of the interruption asked for; 0 while none
    QString m_message;
    QString m_versionReadBack;
    FirmwareDownload::Counts m_counts {};
    int m_rowsDone = 0;
    QElapsedTimer m_clock; ///< from the start of the job
    QElapsedTimer m_downloadClock; ///< from the start of the download, for the rate
    double m_finishedMs = -1;
};
