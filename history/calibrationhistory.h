#pragma once

#include "calibrationrecord.h"

#include <QList>
#include <QString>

#include <optional>

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
    QString pendingFile; ///< JSON lines of runs waiting for the database
    QString issuedFile; ///< the last certificate number this computer handed out
    int busyTimeoutMs = 2000; ///< how long a locked SQLite file is waited for

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
class CalibrationHistory
{
public:
    static constexpr int SchemaVersion = 2;

    /// One sender of the history: its serial number and how many runs it has.
    struct Sender
    {
        QString serial;
        int runs = 0;
    };

    struct StoreResult
    {
        qint64 id = 0; ///< the stored run's id; 0 when it was not stored
        bool pending = false; ///< the run waits in the pending file
        QString error; ///< why it was not stored (empty when it was)
    };

    explicit CalibrationHistory(const HistoryLocation &location = HistoryLocation::fromSettings());
    ~CalibrationHistory();
    CalibrationHistory(const CalibrationHistory &) = delete;
    CalibrationHistory &operator=(const CalibrationHistory &) = delete;

    const HistoryLocation &location() const { return m_location; }

    /// Opens the database and creates or upgrades its schema; a newer schema is refused.
    bool open(QString *error);
    /// Stores the run (and first any pending ones); when the database cannot be written the run
    /// goes to the pending file and the result says so. A run without a certificate number or
    /// start time is refused.
    StoreResult store(const CalibrationRecord &record);
    /// The stored runs, newest first; only one sender's when `serialFilter` is not empty.
    std::optional<QList<CalibrationRecord>> runs(const QString &serialFilter, QString *error);
    /// The senders with stored runs, by serial number; reads no run, so it stays quick on a long
    /// history.
    std::optional<QList<Sender>> senders(QString *error);
    /// "VX4-YYYY-NNNNNN", one past the highest number stored or handed out here. When the
    /// database cannot be read the number is still given and `error` says why.
    QString nextCertificateNumber(QString *error = nullptr);
    /// Stores the pending runs; returns how many left the pending file, or -1 when the database
    /// cannot be opened. A line leaves the file only after its run was committed or found stored.
    int flushPending(QString *error);
    /// The runs waiting in the pending file.
    int pendingCount() const;

private:
    enum class Insert { Stored, AlreadyStored, Conflict, Failed };
    Insert insertOnce(const CalibrationRecord &record, qint64 *id, QString *error);
    bool migrate(QString *error);
    bool keepPending(const CalibrationRecord &record, QString *error);

    HistoryLocation m_location;
    QString m_connection;
    bool m_open = false;
};
