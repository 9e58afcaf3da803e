#pragma once

#include "calibrationhistory.h"

#include <QJsonArray>
#include <QTemporaryDir>

/// "exit code|output|errors" of `command`; the code is -1 when it did not end normally.
QString runProgram(const QStringList &command);

/// A PostgreSQL server in a temporary folder, listening on its socket only, stopped with the test.
/// As root it runs as the postgres user: initdb refuses root.
struct PgServer
{
    static constexpr int Port = 54329;
    QTemporaryDir dir { QDir::tempPath() + "/vx4pg-XXXXXX" };
    QStringList asUser;
    QString bin;
    bool running = false;

    ~PgServer();
    QString run(const QStringList &command) const;
    /// Empty when it runs; else why not.
    QString start();
    HistoryLocation location(const QString &database) const;
};

/// Runs `statement` on the database of `l` over the test's own connection, which stays open (and
/// keeps any transaction) until the next statement; every value of its first column, or
/// "failed".
QStringList sql(const HistoryLocation &l, const QString &statement);

/// Every field filled; as-found errors 1.5 - 1.125 i and as-left errors 0.5 - 0.125 i (PSI); a run
/// that did not finish captured only its first two verification readings, and took the
/// calibration only when it finished.
CalibrationRecord sampleRun(const QString &serial, const QString &certificate, int day,
                            CalibrationRecord::Outcome outcome
                            = CalibrationRecord::Outcome::Finished,
                            const QString &reason = {});

QJsonArray json(const QList<CalibrationRecord> &runs);
/// "VX4-<this year>-<sequence>".
QString thisYear(int sequence);

/// historyhelper's arguments naming `l`.
QStringList helperArguments(const HistoryLocation &l);
