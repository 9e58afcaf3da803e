#include "historyschema.h"

#include "calibrationrecord.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr char IdColumn[] = "%ID%";
constexpr qint64 WriteLockKey = 0x56583448; ///< PostgreSQL advisory lock of the history's writers

/// Each schema version's statements; the id column's type is the one thing the two databases
/// spell differently.
const QList<QStringList> Migrations {
    { QStringLiteral(
          "CREATE TABLE calibration_runs (id %ID%, certificate_number TEXT NOT NULL UNIQUE, "
          "certificate_sequence INTEGER NOT NULL, sender_serial TEXT NOT NULL, "
          "firmware TEXT NOT NULL, started_utc TEXT NOT NULL, finished_utc TEXT NOT NULL, "
          "outcome TEXT NOT NULL, reason TEXT NOT NULL, technician TEXT NOT NULL, "
          "reference_calibrator TEXT NOT NULL, reference_due TEXT NOT NULL, "
          "tolerance_psi DOUBLE PRECISION NOT NULL, next_calibration TEXT NOT NULL, "
          "pdf_sha256 TEXT NOT NULL)"),
      QStringLiteral(
          "CREATE INDEX runs_by_serial ON calibration_runs (sender_serial, started_utc)"),
      QStringLiteral("CREATE TABLE calibration_points (run_id INTEGER NOT NULL REFERENCES "
                     "calibration_runs (id), point_index INTEGER NOT NULL, "
                     "set_point DOUBLE PRECISION NOT NULL, reference DOUBLE PRECISION NOT NULL, "
                     "as_found DOUBLE PRECISION NOT NULL, as_left DOUBLE PRECISION NOT NULL, "
                     "PRIMARY KEY (run_id, point_index))") },
    // Version 2: all a certificate is made from, so that it can be written again, and the
    // verification pass's own reference and how each reading was captured.
    { QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN calibrated TEXT NOT NULL DEFAULT ''"),
      QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN company TEXT NOT NULL DEFAULT ''"),
      QStringLiteral(
          "ALTER TABLE calibration_runs ADD COLUMN calibrator_serial TEXT NOT NULL DEFAULT ''"),
      QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN calibrator_certificate TEXT NOT "
                     "NULL DEFAULT ''"),
      QStringLiteral("ALTER TABLE calibration_points ADD COLUMN as_left_reference DOUBLE "
                     "PRECISION NOT NULL DEFAULT 0"),
      QStringLiteral("UPDATE calibration_points SET as_left_reference = reference"),
      QStringLiteral("ALTER TABLE calibration_points ADD COLUMN as_found_capture TEXT NOT NULL "
                     "DEFAULT 'stable'"),
      QStringLiteral("ALTER TABLE calibration_points ADD COLUMN as_left_capture TEXT NOT NULL "
                     "DEFAULT 'stable'") },
    // Version 3: the result and how it was judged, the conditions of the run, whether the sender
    // took the calibration, a row for every certificate number drawn, the links between the
    // serial texts of one instrument, and the lab's policy.
    { QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN result TEXT NOT NULL DEFAULT ''"),
      QStringLiteral(
          "ALTER TABLE calibration_runs ADD COLUMN as_found_result TEXT NOT NULL DEFAULT ''"),
      QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN decision_rule TEXT NOT NULL "
                     "DEFAULT 'simple'"),
      QStringLiteral(
          "ALTER TABLE calibration_runs ADD COLUMN procedure_id TEXT NOT NULL DEFAULT ''"),
      QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN ambient_celsius DOUBLE PRECISION"),
      QStringLiteral(
          "ALTER TABLE calibration_runs ADD COLUMN reference_uncertainty DOUBLE PRECISION"),
      QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN reference_uncertainty_percent "
                     "INTEGER NOT NULL DEFAULT 0"),
      QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN reference_coverage DOUBLE "
                     "PRECISION NOT NULL DEFAULT 2"),
      QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN calibration_saved INTEGER NOT "
                     "NULL DEFAULT 0"),
      QStringLiteral("ALTER TABLE calibration_runs ADD COLUMN replaces TEXT NOT NULL DEFAULT ''"),
      // Older runs did not record the acknowledgement: a finished one had sent its calibration.
      QStringLiteral("UPDATE calibration_runs SET calibration_saved = 1 WHERE outcome = "
                     "'finished'"),
      QStringLiteral("ALTER TABLE calibration_points ADD COLUMN as_found_u DOUBLE PRECISION"),
      QStringLiteral("ALTER TABLE calibration_points ADD COLUMN as_left_u DOUBLE PRECISION"),
      QStringLiteral(
          "CREATE TABLE certificate_numbers (sequence BIGINT PRIMARY KEY, number TEXT NOT NULL "
          "DEFAULT '', state TEXT NOT NULL, bench TEXT NOT NULL, reserved_utc TEXT NOT NULL, "
          "drawn_utc TEXT NOT NULL DEFAULT '', run_id INTEGER REFERENCES calibration_runs (id), "
          "pdf_sha256 TEXT NOT NULL DEFAULT '', note TEXT NOT NULL DEFAULT '')"),
      QStringLiteral("CREATE INDEX numbers_by_run ON certificate_numbers (run_id)"),
      // Every number stored before gets its row; of two runs sharing a running number (two
      // years), the first keeps it.
      QStringLiteral(
          "INSERT INTO certificate_numbers (sequence, number, state, bench, reserved_utc, "
          "drawn_utc, run_id, pdf_sha256, note) SELECT certificate_sequence, certificate_number, "
          "CASE WHEN outcome = 'finished' THEN 'issued' ELSE 'void' END, '', started_utc, "
          "started_utc, id, pdf_sha256, 'stored before numbers were reserved' FROM "
          "calibration_runs r WHERE certificate_sequence > 0 AND id = (SELECT MIN(id) FROM "
          "calibration_runs o WHERE o.certificate_sequence = r.certificate_sequence)"),
      QStringLiteral("CREATE TABLE sender_links (id %ID%, old_serial TEXT NOT NULL, new_serial "
                     "TEXT NOT NULL, linked_utc TEXT NOT NULL, UNIQUE (old_serial, new_serial))"),
      QStringLiteral("CREATE TABLE lab_policy (id %ID%, tolerance_psi DOUBLE PRECISION NOT NULL, "
                     "decision_rule TEXT NOT NULL, procedure_id TEXT NOT NULL, changed_by TEXT "
                     "NOT NULL, changed_utc TEXT NOT NULL)") },
};

/// The results of the runs stored before they were kept, judged as they were then: simply.
bool storeResults(QSqlDatabase &db, QString *error)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT r.id, r.tolerance_psi, p.point_index, p.reference, p.as_found, "
            "p.as_left_reference, p.as_left, p.as_found_capture, p.as_left_capture FROM "
            "calibration_runs r LEFT JOIN calibration_points p ON p.run_id = r.id AND "
            "p.point_index BETWEEN 0 AND 4 WHERE r.result = '' ORDER BY r.id"))) {
        *error = q.lastError().text();
        return false;
    }
    QList<CalibrationRecord> runs;
    while (q.next()) {
        if (runs.isEmpty() || runs.constLast().id != q.value(0).toLongLong()) {
            runs.append(CalibrationRecord());
            runs.last().id = q.value(0).toLongLong();
            runs.last().tolerancePsi = q.value(1).toDouble();
        }
        if (q.value(2).isNull())
            continue;
        CalibrationPoint &p = runs.last().points[size_t(q.value(2).toInt())];
        p.asFoundReference = q.value(3).toDouble();
        p.asFound = q.value(4).toDouble();
        p.asLeftReference = q.value(5).toDouble();
        p.asLeft = q.value(6).toDouble();
        p.asFoundCapture
            = CalibrationRecord::captureFromText(q.value(7).toString()).value_or(Capture::None);
        p.asLeftCapture
            = CalibrationRecord::captureFromText(q.value(8).toString()).value_or(Capture::None);
    }
    q.finish();
    for (const CalibrationRecord &r : runs) {
        q.prepare(QStringLiteral(
            "UPDATE calibration_runs SET result = ?, as_found_result = ? WHERE id = ?"));
        q.addBindValue(CalibrationRecord::verdictText(r.result()));
        q.addBindValue(CalibrationRecord::verdictText(r.asFoundResult()));
        q.addBindValue(r.id);
        if (!q.exec()) {
            *error = q.lastError().text();
            return false;
        }
    }
    return true;
}

} // namespace

namespace HistorySchema {

bool beginWrite(QSqlDatabase &db, bool sqlite, QString *error)
{
    QSqlQuery q(db);
    // SQLite's plain BEGIN takes the write lock only at the first write, and a reader that then
    // wants to write fails at once instead of waiting its turn.
    const bool ok = sqlite ? q.exec(QStringLiteral("BEGIN IMMEDIATE"))
                           : db.transaction()
            && q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(WriteLockKey));
    if (!ok) {
        *error = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
        if (!sqlite)
            db.rollback();
    }
    return ok;
}

bool migrate(QSqlDatabase &db, bool sqlite, QString *error)
{
    if (!beginWrite(db, sqlite, error))
        return false;
    QSqlQuery q(db);
    // Read under the lock: a second program opening the same new database waits, then finds
    // it made.
    const bool versioned = db.tables().contains(QStringLiteral("schema_version"));
    bool ok = !versioned
        || (q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) && q.next());
    const int version = ok && versioned ? q.value(0).toInt() : 0;
    q.finish();
    if (ok && version > Version) {
        db.rollback();
        *error = QStringLiteral("its schema version %1 is newer than this program's (%2); use a "
                                "newer version of the program")
                     .arg(version)
                     .arg(Version);
        return false;
    }
    if (ok && version == Version)
        return db.commit();
    const QString idType = sqlite ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                                  : QStringLiteral("SERIAL PRIMARY KEY");
    if (ok && !versioned)
        ok = q.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"));
    for (int v = version; ok && v < Version; ++v) {
        for (const QString &statement : Migrations.at(v))
            ok = ok && q.exec(QString(statement).replace(IdColumn, idType));
    }
    QString why;
    ok = ok && storeResults(db, &why);
    ok = ok && q.exec(QStringLiteral("DELETE FROM schema_version"));
    ok = ok
        && q.exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(Version));
    if (ok && db.commit())
        return true;
    *error = QStringLiteral("its schema cannot be brought to version %1: %2")
                 .arg(Version)
                 .arg(!why.isEmpty()                ? why
                          : q.lastError().isValid() ? q.lastError().text()
                                                    : db.lastError().text());
    db.rollback();
    return false;
}

} // namespace HistorySchema
