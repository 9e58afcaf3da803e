#include "calibrationhistory.h"

#include "settingskeys.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace {

constexpr char IdColumn[] = "%ID%";

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
};

QAtomicInt connectionCount;

/// The running number of "VX4-YYYY-NNNNNN"; 0 for any other text.
qint64 sequenceOf(const QString &certificate)
{
    static const QRegularExpression form(QStringLiteral("^VX4-\\d{4}-(\\d{1,12})$"));
    const auto match = form.match(certificate.trimmed());
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

/// Empty rather than NULL: every text column is NOT NULL.
QVariant text(const QString &s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QList<QByteArray> readLines(const QString &path)
{
    QFile file(path);
    QList<QByteArray> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            lines.append(line);
    }
    return lines;
}

bool writeLines(const QString &path, const QList<QByteArray> &lines, QString *error)
{
    if (lines.isEmpty()) {
        if (!QFile::exists(path) || QFile::remove(path))
            return true;
        *error = QStringLiteral("%1 cannot be removed").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        for (const QByteArray &line : lines)
            file.write(line + '\n');
        if (file.commit())
            return true;
    }
    *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
    return false;
}

} // namespace

QString HistoryLocation::dataFolder()
{
    // Named after the settings store rather than each program's own name, so that the window and
    // vx4ctl find the same history.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + '/'
        + SettingsStore::Organisation + '/' + SettingsStore::Application;
}

HistoryLocation HistoryLocation::fromSettings()
{
    namespace K = SettingsStore::HistoryGroup;
    HistoryLocation l;
    const QString folder = dataFolder();
    l.sqliteFile = folder + QStringLiteral("/history.sqlite");
    l.pendingFile = folder + QStringLiteral("/pending-history.jsonl");
    l.issuedFile = folder + QStringLiteral("/last-certificate-number");
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(K::Name);
    if (settings.value(K::Backend).toString() == QLatin1String("postgresql")) {
        l.backend = Backend::Postgres;
        l.host = settings.value(K::Host, QStringLiteral("localhost")).toString();
        const int port = settings.value(K::Port, 5432).toInt();
        l.port = port > 0 && port < 65536 ? port : 5432;
        l.database = settings.value(K::Database, QStringLiteral("vx4history")).toString();
        l.user = settings.value(K::User).toString();
    }
    return l;
}

QString HistoryLocation::describe() const
{
    if (backend == Backend::Sqlite)
        return QStringLiteral("the SQLite file %1").arg(sqliteFile);
    return QStringLiteral("the PostgreSQL database \"%1\" on %2:%3").arg(database, host).arg(port);
}

CalibrationHistory::CalibrationHistory(const HistoryLocation &location)
    : m_location(location)
    , m_connection(QStringLiteral("vx4history-%1").arg(connectionCount.fetchAndAddRelaxed(1)))
{
    const bool sqlite = location.backend == HistoryLocation::Backend::Sqlite;
    QSqlDatabase db = QSqlDatabase::addDatabase(
        sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), m_connection);
    if (sqlite) {
        db.setDatabaseName(location.sqliteFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(location.busyTimeoutMs));
    } else {
        // No password: libpq takes it from its own password or service file.
        db.setHostName(location.host);
        db.setPort(location.port);
        db.setDatabaseName(location.database);
        db.setUserName(location.user);
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    }
}

CalibrationHistory::~CalibrationHistory()
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

bool CalibrationHistory::open(QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (m_open && db.isOpen())
        return true;
    QString why;
    if (m_location.backend == HistoryLocation::Backend::Sqlite
        && !QDir().mkpath(QFileInfo(m_location.sqliteFile).absolutePath()))
        why = QStringLiteral("its folder cannot be made");
    else if (!db.open())
        why = db.lastError().text(); // libpq's run over several lines: simplified below
    else if (!migrate(&why))
        db.close();
    m_open = why.isEmpty();
    if (!m_open && error)
        *error = QStringLiteral("%1 cannot be opened: %2")
                     .arg(m_location.describe(), why.simplified());
    return m_open;
}

bool CalibrationHistory::migrate(QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const bool versioned = db.tables().contains(QStringLiteral("schema_version"));
    if (versioned
        && (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next())) {
        *error = q.lastError().text();
        return false;
    }
    const int version = versioned ? q.value(0).toInt() : 0;
    q.finish();
    if (version > SchemaVersion) {
        *error = QStringLiteral("its schema version %1 is newer than this program's (%2); use a "
                                "newer version of the program")
                     .arg(version)
                     .arg(SchemaVersion);
        return false;
    }
    if (version == SchemaVersion)
        return true;
    const QString idType = m_location.backend == HistoryLocation::Backend::Sqlite
        ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
        : QStringLiteral("SERIAL PRIMARY KEY");
    bool ok = db.transaction();
    if (!versioned)
        ok = ok && q.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"));
    for (int v = version; ok && v < SchemaVersion; ++v) {
        for (const QString &statement : Migrations.at(v))
            ok = ok && q.exec(QString(statement).replace(IdColumn, idType));
    }
    ok = ok && q.exec(QStringLiteral("DELETE FROM schema_version"));
    ok = ok
        && q.exec(
            QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(SchemaVersion));
    if (ok && db.commit())
        return true;
    *error = QStringLiteral("its schema cannot be brought to version %1: %2")
                 .arg(SchemaVersion)
                 .arg(q.lastError().isValid() ? q.lastError().text() : db.lastError().text());
    db.rollback();
    return false;
}

CalibrationHistory::Insert CalibrationHistory::insertOnce(const CalibrationRecord &r, qint64 *id,
                                                          QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id, sender_serial, started_utc FROM calibration_runs "
                             "WHERE certificate_number = ?"));
    q.addBindValue(r.certificateNumber);
    bool ok = q.exec();
    if (ok && q.next()) {
        // A run whose line outlived its commit is the same run: it is not stored again.
        if (q.value(1).toString() == r.senderSerial
            && q.value(2).toString() == timeText(r.started)) {
            *id = q.value(0).toLongLong();
            return Insert::AlreadyStored;
        }
        *error = QStringLiteral("the certificate number %1 is already stored for another run")
                     .arg(r.certificateNumber);
        return Insert::Conflict;
    }
    q.finish();
    ok = ok && db.transaction();
    if (ok) {
        q.prepare(QStringLiteral(
            "INSERT INTO calibration_runs (certificate_number, certificate_sequence, "
            "sender_serial, firmware, started_utc, finished_utc, outcome, reason, technician, "
            "reference_calibrator, reference_due, tolerance_psi, next_calibration, pdf_sha256, "
            "calibrated, company, calibrator_serial, calibrator_certificate) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant &v : QVariantList {
                 text(r.certificateNumber), sequenceOf(r.certificateNumber), text(r.senderSerial),
                 text(r.firmware), text(timeText(r.started)), text(timeText(r.finished)),
                 CalibrationRecord::outcomeText(r.outcome), text(r.reason), text(r.technician),
                 text(r.referenceCalibrator), text(r.referenceDueDate.toString(Qt::ISODate)),
                 r.tolerancePsi, text(r.nextCalibrationDate.toString(Qt::ISODate)),
                 text(r.pdfSha256), text(r.calibrated.toString(Qt::ISODate)), text(r.company),
                 text(r.calibratorSerial), text(r.calibratorCertificate) })
            q.addBindValue(v);
        ok = q.exec();
        *id = ok ? q.lastInsertId().toLongLong() : 0;
        ok = ok && *id > 0;
    }
    for (int i = 0; ok && i < CalibrationRecord::PointCount; ++i) {
        const CalibrationPoint &p = r.points[size_t(i)];
        q.prepare(QStringLiteral(
            "INSERT INTO calibration_points (run_id, point_index, set_point, reference, as_found, "
            "as_left_reference, as_left, as_found_capture, as_left_capture) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant &v :
             QVariantList { *id, i, p.setPoint, p.asFoundReference, p.asFound, p.asLeftReference,
                            p.asLeft, CalibrationRecord::captureText(p.asFoundCapture),
                            CalibrationRecord::captureText(p.asLeftCapture) })
            q.addBindValue(v);
        ok = q.exec();
    }
    if (ok && db.commit())
        return Insert::Stored;
    *error = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
    db.rollback();
    // A server that went away stays closed to Qt: open again next time.
    db.close();
    m_open = false;
    *id = 0;
    return Insert::Failed;
}

bool CalibrationHistory::keepPending(const CalibrationRecord &record, QString *error)
{
    QFile file(m_location.pendingFile);
    const QByteArray line
        = QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + QByteArray("\n");
    if (QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::Append)
        && file.write(line) == line.size() && file.flush())
        return true;
    *error = QStringLiteral("%1 cannot be written: %2").arg(file.fileName(), file.errorString());
    return false;
}

CalibrationHistory::StoreResult CalibrationHistory::store(const CalibrationRecord &record)
{
    StoreResult result;
    QString why;
    // What cannot be read back from the pending file is refused before anything is written.
    if (!CalibrationRecord::fromJson(record.toJson(), &result.error))
        return result;
    if (open(&why)) {
        flushPending(nullptr); // the earlier runs first; any that still fail stay pending
        const Insert insert = insertOnce(record, &result.id, &why);
        if (insert == Insert::Stored || insert == Insert::AlreadyStored)
            return result;
        why = QStringLiteral("%1 cannot store the run: %2").arg(m_location.describe(), why);
    }
    QString pendingWhy;
    result.pending = keepPending(record, &pendingWhy);
    result.error = result.pending
        ? QStringLiteral("%1; the run waits in %2 until it can be stored")
              .arg(why, m_location.pendingFile)
        : QStringLiteral("%1; and the run cannot wait either: %2").arg(why, pendingWhy);
    return result;
}

int CalibrationHistory::flushPending(QString *error)
{
    QString dummy;
    QString &why = error ? *error : dummy;
    if (!QFile::exists(m_location.pendingFile))
        return 0;
    if (!open(&why))
        return -1;
    QList<QByteArray> lines = readLines(m_location.pendingFile);
    QStringList problems;
    int stored = 0;
    for (int i = 0; i < lines.size();) {
        QJsonParseError parse;
        const QJsonDocument document = QJsonDocument::fromJson(lines.at(i), &parse);
        QString lineWhy = parse.error == QJsonParseError::NoError ? QString() : parse.errorString();
        const auto record = lineWhy.isEmpty()
            ? CalibrationRecord::fromJson(document.object(), &lineWhy)
            : std::nullopt;
        qint64 id = 0;
        const Insert insert = record ? insertOnce(*record, &id, &lineWhy) : Insert::Conflict;
        if (insert == Insert::Stored || insert == Insert::AlreadyStored) {
            lines.removeAt(i);
            ++stored;
            if (!writeLines(m_location.pendingFile, lines, &lineWhy)) {
                problems << lineWhy;
                break;
            }
            continue;
        }
        problems << QStringLiteral("pending run %1: %2").arg(i + 1).arg(lineWhy);
        if (insert == Insert::Failed)
            break;
        ++i; // kept: nothing is ever thrown away
    }
    why = problems.join(QStringLiteral("; "));
    return stored;
}

int CalibrationHistory::pendingCount() const
{
    return int(readLines(m_location.pendingFile).size());
}

std::optional<QList<CalibrationRecord>> CalibrationHistory::runs(const QString &serialFilter,
                                                                 QString *error)
{
    if (!open(error))
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral(
            "SELECT r.id, r.certificate_number, r.sender_serial, r.firmware, r.started_utc, "
            "r.finished_utc, r.outcome, r.reason, r.technician, r.reference_calibrator, "
            "r.reference_due, r.tolerance_psi, r.next_calibration, r.pdf_sha256, "
            "r.calibrated, r.company, r.calibrator_serial, r.calibrator_certificate, "
            "p.point_index, p.set_point, p.reference, p.as_found, p.as_left_reference, "
            "p.as_left, p.as_found_capture, p.as_left_capture "
            "FROM calibration_runs r LEFT JOIN calibration_points p ON p.run_id = r.id %1 "
            "ORDER BY r.started_utc DESC, r.id DESC, p.point_index")
            .arg(serialFilter.isEmpty() ? QString() : QStringLiteral("WHERE r.sender_serial = ?")));
    if (!serialFilter.isEmpty())
        q.addBindValue(serialFilter);
    if (!q.exec()) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2")
                         .arg(m_location.describe(), q.lastError().text().simplified());
        return std::nullopt;
    }
    QList<CalibrationRecord> list;
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        if (list.isEmpty() || list.constLast().id != id) {
            CalibrationRecord r;
            r.id = id;
            r.certificateNumber = q.value(1).toString();
            r.senderSerial = q.value(2).toString();
            r.firmware = q.value(3).toString();
            r.started = QDateTime::fromString(q.value(4).toString(), Qt::ISODateWithMs);
            r.finished = QDateTime::fromString(q.value(5).toString(), Qt::ISODateWithMs);
            r.outcome = CalibrationRecord::outcomeFromText(q.value(6).toString())
                            .value_or(CalibrationRecord::Outcome::Aborted);
            r.reason = q.value(7).toString();
            r.technician = q.value(8).toString();
            r.referenceCalibrator = q.value(9).toString();
            r.referenceDueDate = QDate::fromString(q.value(10).toString(), Qt::ISODate);
            r.tolerancePsi = q.value(11).toDouble();
            r.nextCalibrationDate = QDate::fromString(q.value(12).toString(), Qt::ISODate);
            r.pdfSha256 = q.value(13).toString();
            r.calibrated = QDateTime::fromString(q.value(14).toString(), Qt::ISODate);
            r.company = q.value(15).toString();
            r.calibratorSerial = q.value(16).toString();
            r.calibratorCertificate = q.value(17).toString();
            list.append(r);
        }
        const int index = q.value(18).isNull() ? -1 : q.value(18).toInt();
        if (index >= 0 && index < CalibrationRecord::PointCount) {
            CalibrationPoint &p = list.last().points[size_t(index)];
            p.setPoint = q.value(19).toDouble();
            p.asFoundReference = q.value(20).toDouble();
            p.asFound = q.value(21).toDouble();
            p.asLeftReference = q.value(22).toDouble();
            p.asLeft = q.value(23).toDouble();
            p.asFoundCapture = CalibrationRecord::captureFromText(q.value(24).toString())
                                   .value_or(Capture::None);
            p.asLeftCapture = CalibrationRecord::captureFromText(q.value(25).toString())
                                  .value_or(Capture::None);
        }
    }
    return list;
}

std::optional<QList<CalibrationHistory::Sender>> CalibrationHistory::senders(QString *error)
{
    if (!open(error))
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT sender_serial, COUNT(*) FROM calibration_runs "
                               "GROUP BY sender_serial ORDER BY sender_serial"))) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2")
                         .arg(m_location.describe(), q.lastError().text().simplified());
        return std::nullopt;
    }
    QList<Sender> list;
    while (q.next())
        list.append({ q.value(0).toString(), q.value(1).toInt() });
    return list;
}

QString CalibrationHistory::nextCertificateNumber(QString *error)
{
    qint64 highest = 0;
    QString why;
    if (open(&why)) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        if (q.exec(QStringLiteral("SELECT MAX(certificate_sequence) FROM calibration_runs"))
            && q.next())
            highest = q.value(0).toLongLong();
        else
            why = QStringLiteral("%1 cannot be read: %2")
                      .arg(m_location.describe(), q.lastError().text());
    }
    // Numbers handed out here, whose runs may still be going on or waiting, are taken too.
    QFile issued(m_location.issuedFile);
    if (issued.open(QIODevice::ReadOnly))
        highest = std::max(highest, sequenceOf(QString::fromUtf8(issued.readAll())));
    issued.close();
    const QString number = QStringLiteral("VX4-%1-%2")
                               .arg(QDate::currentDate().year(), 4, 10, QLatin1Char('0'))
                               .arg(highest + 1, 6, 10, QLatin1Char('0'));
    QString writeWhy;
    if (!m_location.issuedFile.isEmpty()
        && QDir().mkpath(QFileInfo(m_location.issuedFile).absolutePath()))
        writeLines(m_location.issuedFile, { number.toUtf8() }, &writeWhy);
    if (error)
        *error = why;
    return number;
}
