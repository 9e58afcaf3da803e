#include "calibrationhistory.h"

#include "historyschema.h"
#include "pendingfile.h"
#include "settingskeys.h"

#include <QAtomicInt>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSysInfo>

static_assert(CalibrationHistory::SchemaVersion == HistorySchema::Version);

namespace {

QAtomicInt connectionCount;

/// Empty rather than NULL: every text column is NOT NULL.
QVariant text(const QString &s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

QVariant optional(std::optional<double> value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Double));
}

QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QByteArray jsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject linkJson(const CalibrationHistory::SenderLink &link)
{
    return { { "link",
               QJsonObject { { "old", link.oldSerial },
                             { "new", link.newSerial },
                             { "when", timeText(link.when) } } } };
}

bool exec(QSqlQuery &q, const QString &statement, const QVariantList &values)
{
    q.prepare(statement);
    for (const QVariant &v : values)
        q.addBindValue(v);
    return q.exec();
}

} // namespace

qint64 CalibrationHistory::sequenceOf(const QString &certificate)
{
    const QStringList parts = certificate.trimmed().split(u'-');
    bool ok = parts.size() == 3 && parts[0] == QLatin1String("VX4") && parts[1].size() == 4
        && parts[2].size() <= 12;
    const qint64 sequence = ok ? parts[2].toLongLong(&ok) : 0;
    return ok ? sequence : 0;
}

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
    // A block belongs to one database: another database named in the settings has its own.
    const QByteArray which
        = QCryptographicHash::hash(l.describe().toUtf8(), QCryptographicHash::Sha256).toHex();
    l.blockFile
        = folder + QStringLiteral("/reserved-numbers-%1").arg(QLatin1String(which.left(12)));
    if (!QSysInfo::machineHostName().isEmpty())
        l.bench = QSysInfo::machineHostName();
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
    QSqlDatabase db = QSqlDatabase::addDatabase(
        sqlite() ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), m_connection);
    if (sqlite()) {
        db.setDatabaseName(location.sqliteFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(location.busyTimeoutMs));
    } else {
        // No password: libpq takes it from its own password or service file.
        db.setHostName(location.host);
        db.setPort(location.port);
        db.setDatabaseName(location.database);
        db.setUserName(location.user);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(location.connectTimeoutS));
    }
}

CalibrationHistory::~CalibrationHistory()
{
    database().close();
    QSqlDatabase::removeDatabase(m_connection);
}

QSqlDatabase CalibrationHistory::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

bool CalibrationHistory::open(QString *error)
{
    QSqlDatabase db = database();
    if (m_open && db.isOpen())
        return true;
    QString why;
    if (sqlite() && !QDir().mkpath(QFileInfo(m_location.sqliteFile).absolutePath()))
        why = QStringLiteral("its folder cannot be made");
    else if (!db.open())
        why = db.lastError().text(); // libpq's run over several lines: simplified below
    else if (!HistorySchema::migrate(db, sqlite(), &why))
        db.close();
    m_open = why.isEmpty();
    if (!m_open && error)
        *error = QStringLiteral("%1 cannot be opened: %2")
                     .arg(m_location.describe(), why.simplified());
    return m_open;
}

void CalibrationHistory::dropConnection()
{
    QSqlDatabase db = database();
    db.rollback();
    db.close();
    m_open = false;
}

CalibrationHistory::Insert CalibrationHistory::insertOnce(const CalibrationRecord &input,
                                                          qint64 *id, QString *number,
                                                          QString *error)
{
    CalibrationRecord r = input;
    QSqlDatabase db = database();
    QSqlQuery q(db);
    // A run whose line outlived its commit is the same run: it is not stored again.
    const auto stored = [&]() -> std::optional<Insert> {
        const bool numbered = !r.certificateNumber.isEmpty();
        if (!exec(q,
                  numbered ? QStringLiteral("SELECT id, sender_serial, started_utc, "
                                            "certificate_number FROM calibration_runs WHERE "
                                            "certificate_number = ?")
                           : QStringLiteral("SELECT id, sender_serial, started_utc, "
                                            "certificate_number FROM calibration_runs WHERE "
                                            "sender_serial = ? AND started_utc = ?"),
                  numbered ? QVariantList { r.certificateNumber }
                           : QVariantList { text(r.senderSerial), text(timeText(r.started)) }))
            return Insert::Failed;
        if (!q.next())
            return std::nullopt;
        *id = q.value(0).toLongLong();
        *number = q.value(3).toString();
        if (q.value(1).toString() == r.senderSerial && q.value(2).toString() == timeText(r.started))
            return Insert::AlreadyStored;
        *error = QStringLiteral("the certificate number %1 is already stored for another run")
                     .arg(r.certificateNumber);
        *id = 0;
        return Insert::Conflict;
    };
    if (const auto found = stored()) {
        if (*found == Insert::Failed)
            *error = q.lastError().text();
        return *found;
    }
    q.finish();
    // A run that ended before its certificate was drawn gets its number now: it is void.
    if (r.certificateNumber.isEmpty()) {
        r.certificateNumber = drawCertificateNumber(error);
        if (r.certificateNumber.isEmpty())
            return Insert::Failed;
    }
    *number = r.certificateNumber;
    QString why;
    bool ok = HistorySchema::beginWrite(db, sqlite(), &why);
    ok = ok
        && exec(q,
                QStringLiteral(
                    "INSERT INTO calibration_runs (certificate_number, certificate_sequence, "
                    "sender_serial, firmware, started_utc, finished_utc, outcome, reason, "
                    "technician, reference_calibrator, reference_due, tolerance_psi, "
                    "next_calibration, pdf_sha256, calibrated, company, calibrator_serial, "
                    "calibrator_certificate, result, as_found_result, decision_rule, "
                    "procedure_id, ambient_celsius, reference_uncertainty, "
                    "reference_uncertainty_percent, reference_coverage, calibration_saved, "
                    "replaces) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                    "?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                { text(r.certificateNumber),
                  sequenceOf(r.certificateNumber),
                  text(r.senderSerial),
                  text(r.firmware),
                  text(timeText(r.started)),
                  text(timeText(r.finished)),
                  CalibrationRecord::outcomeText(r.outcome),
                  text(r.reason),
                  text(r.technician),
                  text(r.referenceCalibrator),
                  text(r.referenceDueDate.toString(Qt::ISODate)),
                  r.tolerancePsi,
                  text(r.nextCalibrationDate.toString(Qt::ISODate)),
                  text(r.pdfSha256),
                  text(r.calibrated.toString(Qt::ISODate)),
                  text(r.company),
                  text(r.calibratorSerial),
                  text(r.calibratorCertificate),
                  CalibrationRecord::verdictText(r.result()),
                  CalibrationRecord::verdictText(r.asFoundResult()),
                  CalibrationRecord::ruleText(r.decisionRule),
                  text(r.procedureId),
                  optional(r.ambientCelsius),
                  optional(r.referenceUncertainty ? std::optional(r.referenceUncertainty->value)
                                                  : std::nullopt),
                  r.referenceUncertainty && r.referenceUncertainty->percentOfReading ? 1 : 0,
                  r.referenceUncertainty ? r.referenceUncertainty->coverageFactor : 2.0,
                  r.calibrationSaved ? 1 : 0,
                  text(r.replaces) });
    *id = ok ? q.lastInsertId().toLongLong() : 0;
    ok = ok && *id > 0;
    for (int i = 0; ok && i < CalibrationRecord::PointCount; ++i) {
        const CalibrationPoint &p = r.points[size_t(i)];
        ok = exec(q,
                  QStringLiteral("INSERT INTO calibration_points (run_id, point_index, "
                                 "set_point, reference, as_found, as_left_reference, as_left, "
                                 "as_found_capture, as_left_capture, as_found_u, as_left_u) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                  { *id, i, p.setPoint, p.asFoundReference, p.asFound, p.asLeftReference, p.asLeft,
                    CalibrationRecord::captureText(p.asFoundCapture),
                    CalibrationRecord::captureText(p.asLeftCapture), optional(p.asFoundU),
                    optional(p.asLeftU) });
    }
    const bool finished = r.outcome == CalibrationRecord::Outcome::Finished;
    ok = ok
        && claimNumber(
             r.certificateNumber, finished ? QStringLiteral("issued") : QStringLiteral("void"), *id,
             r.pdfSha256,
             finished
                 ? (r.replaces.isEmpty() ? QString() : QStringLiteral("replaces ") + r.replaces)
                 : CalibrationRecord::outcomeText(r.outcome) + QStringLiteral(": ") + r.reason,
             &why);
    for (const ReplacedCertificate &c : r.replaced)
        ok = ok
            && claimNumber(c.number, QStringLiteral("replaced"), *id, c.pdfSha256,
                           QStringLiteral("replaced by ") + r.certificateNumber, &why);
    if (ok && db.commit())
        return Insert::Stored;
    *error = !why.isEmpty()       ? why
        : q.lastError().isValid() ? q.lastError().text()
                                  : db.lastError().text();
    dropConnection();
    *id = 0;
    return Insert::Failed;
}

bool CalibrationHistory::keepPending(const QByteArray &line, QString *error)
{
    return PendingFile(m_location.pendingFile).append(line, error);
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
        const Insert insert = insertOnce(record, &result.id, &result.certificateNumber, &why);
        if (insert == Insert::Stored || insert == Insert::AlreadyStored)
            return result;
        why = QStringLiteral("%1 cannot store the run: %2").arg(m_location.describe(), why);
    }
    QString pendingWhy;
    result.pending = keepPending(jsonLine(record.toJson()), &pendingWhy);
    result.error = result.pending
        ? QStringLiteral("%1; the run waits in %2 until it can be stored")
              .arg(why, m_location.pendingFile)
        : QStringLiteral("%1; and the run cannot wait either: %2").arg(why, pendingWhy);
    return result;
}

CalibrationHistory::Insert CalibrationHistory::insertLink(const SenderLink &link, QString *error)
{
    QSqlQuery q(database());
    if (!exec(q,
              QStringLiteral("SELECT id FROM sender_links WHERE old_serial = ? AND new_serial = ?"),
              { link.oldSerial, link.newSerial })) {
        *error = q.lastError().text();
        dropConnection();
        return Insert::Failed;
    }
    if (q.next())
        return Insert::AlreadyStored;
    if (exec(q,
             QStringLiteral(
                 "INSERT INTO sender_links (old_serial, new_serial, linked_utc) VALUES (?, ?, ?)"),
             { link.oldSerial, link.newSerial, text(timeText(link.when)) }))
        return Insert::Stored;
    *error = q.lastError().text();
    dropConnection();
    return Insert::Failed;
}

CalibrationHistory::StoreResult CalibrationHistory::linkSenders(const QString &oldSerial,
                                                                const QString &newSerial,
                                                                const QDateTime &when)
{
    StoreResult result;
    const SenderLink link { oldSerial.trimmed(), newSerial.trimmed(), when };
    if (link.oldSerial == link.newSerial || link.oldSerial.isEmpty() || link.newSerial.isEmpty())
        return result;
    if (link.oldSerial.size() > MaxTextChars || link.newSerial.size() > MaxTextChars) {
        result.error = QStringLiteral("a serial number text is too long to be linked");
        return result;
    }
    QString why;
    if (open(&why)) {
        flushPending(nullptr);
        const Insert insert = insertLink(link, &why);
        if (insert == Insert::Stored || insert == Insert::AlreadyStored)
            return result;
        why = QStringLiteral("%1 cannot store the link: %2").arg(m_location.describe(), why);
    }
    QString pendingWhy;
    result.pending = keepPending(jsonLine(linkJson(link)), &pendingWhy);
    result.error = result.pending
        ? QStringLiteral("%1; the link waits in %2").arg(why, m_location.pendingFile)
        : QStringLiteral("%1; and the link cannot wait either: %2").arg(why, pendingWhy);
    return result;
}

int CalibrationHistory::flushPending(QString *error)
{
    QString dummy;
    QString &why = error ? *error : dummy;
    const PendingFile file(m_location.pendingFile);
    if (!QFileInfo::exists(file.path()))
        return 0;
    why.clear();
    if (!open(&why))
        return -1;
    QStringList problems;
    QString readWhy;
    const QList<QByteArray> lines = file.lines(&readWhy);
    if (!readWhy.isEmpty())
        problems << readWhy;
    int stored = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QJsonParseError parse;
        const QByteArray &line = lines.at(i);
        const QJsonDocument document = line.size() > PendingFile::MaxLineBytes
            ? QJsonDocument()
            : QJsonDocument::fromJson(line, &parse);
        QString lineWhy = line.size() > PendingFile::MaxLineBytes
            ? QStringLiteral("longer than %1 bytes").arg(PendingFile::MaxLineBytes)
            : parse.error == QJsonParseError::NoError ? QString()
                                                      : parse.errorString();
        Insert insert = Insert::Conflict;
        const QJsonObject object = document.object();
        if (lineWhy.isEmpty() && object.contains(QLatin1String("link"))) {
            const QJsonObject l = object.value("link").toObject();
            insert = insertLink(
                { l.value("old").toString(), l.value("new").toString(),
                  QDateTime::fromString(l.value("when").toString(), Qt::ISODateWithMs) },
                &lineWhy);
        } else if (lineWhy.isEmpty()) {
            qint64 id = 0;
            QString number;
            if (const auto record = CalibrationRecord::fromJson(object, &lineWhy))
                insert = insertOnce(*record, &id, &number, &lineWhy);
        }
        if (insert == Insert::Stored || insert == Insert::AlreadyStored) {
            // Out of the file at once: a crash later leaves no line whose run is stored.
            ++stored;
            QString removeWhy;
            if (!file.remove({ line }, &removeWhy)) {
                problems << removeWhy;
                break;
            }
            continue;
        }
        // Kept: nothing is ever thrown away.
        problems << QStringLiteral("pending line %1: %2").arg(i + 1).arg(lineWhy);
        if (insert == Insert::Failed)
            break;
    }
    why = problems.join(QStringLiteral("; "));
    return stored;
}

int CalibrationHistory::pendingCount() const
{
    QString ignored;
    return int(PendingFile(m_location.pendingFile).lines(&ignored).size());
}
