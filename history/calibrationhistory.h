#pragma once

#include "calibrationrecord.h"
#include "labpolicy.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QSqlDatabase;

/// Where the history is kept and where runs wait that could not be stored.
struct HistoryLocation
{
    enum class Backend { Sqlite, Postgres };

    Backend backend = Backend::Sqlite;
    QString sqliteFile;
    QString host; ///< PostgreSQL: host name, or the folder of the server's socket
    int port = 5432;
    QString database;
    QString user;
    QString pendingFile; ///< JSON lines of runs and links waiting for the database
    QString blockFile; ///< the certificate numbers this bench holds reserved in this database
    QString bench = QStringLiteral("this computer"); ///< its name in the database's number rows
    int busyTimeoutMs = 2000; ///< how long a locked SQLite file is waited for
    int connectTimeoutS = 2; ///< how long a PostgreSQL server may take to answer a connection
    int maxRuns = 100000; ///< a read of more runs is refused

    /// The folder both the window and vx4ctl keep their data in.
    static QString dataFolder();
    /// SQLite in the data folder, or the PostgreSQL server the settings name.
    static HistoryLocation fromSettings();
    /// "the SQLite file PATH" or "the PostgreSQL database DB on HOST:PORT", for messages.
    QString describe() const;
};

/// The stored calibration runs. The same SQL serves SQLite and PostgreSQL; the schema is versioned
/// and created or upgraded on open. A run that cannot be stored waits in the pending file and is
/// stored, once, by a later store() or flushPending() when the database can be written again.
/// Certificate numbers are reserved in the database, a block at a time, and drawn from this
/// bench's block, so that a number is issued once even while the database cannot be reached.
/// Every read is bounded: a field longer than MaxTextChars or more than maxRuns runs is refused.
class CalibrationHistory
{
public:
    static constexpr int SchemaVersion = 3;
    static constexpr int BlockSize = 20; ///< numbers a bench holds reserved for offline use
    static constexpr int MaxTextChars = 2000; ///< the longest text field a read accepts
    static constexpr int MaxLinks = 10000; ///< the most serial links a read accepts

    /// One serial text of the history and how many runs it has.
    struct Sender
    {
        QString serial;
        int runs = 0;
    };

    /// Two serial texts of one instrument: a firmware update changed the one into the other.
    struct SenderLink
    {
        QString oldSerial;
        QString newSerial;
        QDateTime when;
    };

    struct StoreResult
    {
        qint64 id = 0; ///< the stored run's id; 0 when it was not stored
        QString certificateNumber; ///< the run's, drawn here for a run that had none
        bool pending = false; ///< the run waits in the pending file
        QString error; ///< why it was not stored (empty when it was)
    };

    explicit CalibrationHistory(const HistoryLocation &location = HistoryLocation::fromSettings());
    ~CalibrationHistory();
    CalibrationHistory(const CalibrationHistory &) = delete;
    CalibrationHistory &operator=(const CalibrationHistory &) = delete;

    const HistoryLocation &location() const { return m_location; }
    /// The running number of "VX4-YYYY-NNNNNN"; 0 for any other text.
    static qint64 sequenceOf(const QString &certificateNumber);

    /// Opens the database and creates or upgrades its schema; a newer schema is refused.
    bool open(QString *error);
    /// Stores the run (and first any pending ones); when the database cannot be written the run
    /// goes to the pending file and the result says so. A finished run without a certificate
    /// number, or a run without a start time, is refused.
    StoreResult store(const CalibrationRecord &record);
    /// The stored runs of `serials`, newest first; every run when `serials` is empty.
    std::optional<QList<CalibrationRecord>> runs(const QStringList &serials, QString *error);
    std::optional<QList<CalibrationRecord>> runs(const QString &serial, QString *error);
    /// The serial texts with stored runs; reads no run, so it stays quick on a long history.
    std::optional<QList<Sender>> senders(QString *error);
    /// Every link between serial texts, oldest first.
    std::optional<QList<SenderLink>> links(QString *error);
    /// `serial` and every serial text linked to it, directly or through others.
    std::optional<QStringList> instrumentSerials(const QString &serial, QString *error);
    /// Records that a firmware update turned `oldSerial` into `newSerial` (nothing when they are
    /// the same); waits in the pending file when the database cannot be written.
    StoreResult linkSenders(const QString &oldSerial, const QString &newSerial,
                            const QDateTime &when = QDateTime::currentDateTimeUtc());
    /// A new certificate number, issued once ever: drawn from this bench's reserved block,
    /// which is topped up while the database can be reached. Empty, with the reason in `error`,
    /// when none can be issued.
    QString drawCertificateNumber(QString *error);
    /// The lab's current policy; `stored` false (and a default policy) when none is stored.
    std::optional<LabPolicy> policy(bool *stored, QString *error);
    /// Records `policy` as the current one, with who changed it and when.
    bool setPolicy(const LabPolicy &policy, QString *error);
    /// Stores the pending runs and links; returns how many left the pending file, or -1 when the
    /// database cannot be opened. A line leaves the file only after it was committed or found
    /// stored.
    int flushPending(QString *error);
    /// The lines waiting in the pending file.
    int pendingCount() const;

private:
    enum class Insert { Stored, AlreadyStored, Conflict, Failed };
    Insert insertOnce(const CalibrationRecord &record, qint64 *id, QString *number, QString *error);
    Insert insertLink(const SenderLink &link, QString *error);
    bool claimNumber(const QString &number, const QString &state, qint64 runId,
                     const QString &sha256, const QString &note, QString *error);
    bool reserveNumbers(int count, QList<qint64> *block, QString *error);
    bool keepPending(const QByteArray &line, QString *error);
    /// The query failed: a server that went away stays closed to Qt, so open again next time.
    void dropConnection();
    QSqlDatabase database() const;
    bool sqlite() const { return m_location.backend == HistoryLocation::Backend::Sqlite; }

    HistoryLocation m_location;
    QString m_connection;
    bool m_open = false;
};
