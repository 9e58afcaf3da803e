#pragma once

#include "portsettings.h"
#include "programmemoryrow.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>

class SenderSession;

/// One sender's part of a flash: opens its port, connects, downloads the rows and waits until
/// the sender has been told to start the new image. Runs on the event loop beside the others.
class FlashJob : public QObject
{
    Q_OBJECT

public:
    static constexpr int ImageBytesPerRow = 128; ///< 64 words of 16 bits
    static constexpr int SettleLimitMs = 3000; ///< for the closing requests to leave
    static constexpr int SettleCheckMs = 5; ///< how often the closing requests are looked at

    enum class State { Waiting, Connecting, Downloading, Settling, Done, Failed };

    /// The result's word in the table: done, failed, no answer, not opened.
    QString resultName() const;

    FlashJob(const QString &port, const PortSettings &settings, const QList<ProgramMemoryRow> &rows,
             bool verify, int connectTimeoutMs);
    ~FlashJob() override;

    void start();

    QString port() const { return m_port; }
    State state() const { return m_state; }
    bool isOver() const { return m_state == State::Done || m_state == State::Failed; }
    int exitCode() const { return m_exitCode; }
    /// The engine's outcome text, or why the job never got to download.
    QString message() const { return m_message; }
    int rowsDone() const { return m_rowsDone; }
    int rowCount() const { return int(m_rows.size()); }
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
    double downloadMs() const;
    void onDownloadFinished(bool ok, const QString &message);

    QString m_port;
    PortSettings m_settings;
    QList<ProgramMemoryRow> m_rows;
    bool m_verify;
    int m_connectTimeoutMs;
    std::unique_ptr<SenderSession> m_session;
    State m_state = State::Waiting;
    int m_exitCode = 0;
    QString m_message;
    int m_rowsDone = 0;
    QElapsedTimer m_clock; ///< from the start of the job
    QElapsedTimer m_downloadClock; ///< from the start of the download, for the rate
    double m_finishedMs = -1;
};
