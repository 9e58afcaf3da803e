#include "historytestsupport.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

#include <pwd.h>
#include <unistd.h>

QString runProgram(const QStringList &command)
{
    QProcess p;
    p.start(command.first(), command.mid(1));
    const bool finished = p.waitForFinished(60000);
    p.kill();
    return QString("%1|%2|%3")
        .arg(finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1)
        .arg(QString::fromUtf8(p.readAllStandardOutput()),
             QString::fromUtf8(p.readAllStandardError())
                 + (finished ? QString() : p.errorString()));
}

PgServer::~PgServer()
{
    if (running)
        run({ "pg_ctl", "-D", dir.filePath("data"), "-m", "immediate", "-w", "stop" });
}

QString PgServer::run(const QStringList &command) const
{
    return runProgram(asUser + QStringList { bin + command.first() } + command.mid(1));
}

QString PgServer::start()
{
    const QStringList versions
        = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    bin = versions.isEmpty() ? QString() : "/usr/lib/postgresql/" + versions.last() + "/bin/";
    if (!QFile::exists(bin + "initdb") || !QSqlDatabase::isDriverAvailable("QPSQL"))
        return "no PostgreSQL server or no Qt driver for it (scripts/install-deps.sh)";
    const passwd *pw = geteuid() == 0 ? getpwnam("postgres") : nullptr;
    if (geteuid() == 0 && (!pw || chown(qPrintable(dir.path()), pw->pw_uid, pw->pw_gid) != 0))
        return "running as root without a postgres user to run the server";
    asUser = pw ? QStringList { "runuser", "-u", "postgres", "--" } : QStringList();
    QString r
        = run({ "initdb", "-D", dir.filePath("data"), "-A", "trust", "-U", "vx4", "--no-sync" });
    if (r.startsWith("0|"))
        r = run({ "pg_ctl", "-D", dir.filePath("data"), "-w", "-l", dir.filePath("log"), "-o",
                  QString("-k %1 -h '' -p %2 -F").arg(dir.path()).arg(Port), "start" });
    running = r.startsWith("0|");
    return running ? QString() : "the throwaway PostgreSQL server cannot start: " + r.trimmed();
}

HistoryLocation PgServer::location(const QString &database) const
{
    HistoryLocation l;
    l.backend = HistoryLocation::Backend::Postgres;
    l.host = dir.path();
    l.port = Port;
    l.database = database;
    l.user = "vx4";
    return l;
}

QStringList sql(const HistoryLocation &l, const QString &statement)
{
    const bool sqlite = l.backend == HistoryLocation::Backend::Sqlite;
    const QString name = "raw " + (sqlite ? l.sqliteFile : l.database);
    QSqlDatabase db = QSqlDatabase::contains(name)
        ? QSqlDatabase::database(name)
        : QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", name);
    db.setDatabaseName(sqlite ? l.sqliteFile : l.database);
    db.setHostName(l.host);
    db.setPort(l.port);
    db.setUserName(l.user);
    QSqlQuery q(db);
    if (!(db.isOpen() || db.open()) || !q.exec(statement)) {
        qWarning() << statement << db.lastError().text() << q.lastError().text();
        return { "failed" };
    }
    QStringList values;
    while (q.next())
        values << q.value(0).toString();
    return values;
}

CalibrationRecord sampleRun(const QString &serial, const QString &certificate, int day,
                            CalibrationRecord::Outcome outcome, const QString &reason)
{
    const bool finished = outcome == CalibrationRecord::Outcome::Finished;
    CalibrationRecord r;
    r.certificateNumber = certificate;
    r.senderSerial = serial;
    r.firmware = "VX4 2.14";
    r.started = QDateTime(QDate(2026, 3, 4 + day), QTime(9, 15, 30, 250), Qt::UTC);
    r.finished
        = outcome == CalibrationRecord::Outcome::Aborted ? QDateTime() : r.started.addSecs(1234);
    r.outcome = outcome;
    r.reason = reason;
    r.technician = "Åse Ødegård";
    r.referenceCalibrator = "Fluke 700G31 #4471";
    r.referenceDueDate = QDate(2026, 9, 30);
    r.referenceUncertainty = ReferenceUncertainty { 0.02, true, 2 };
    r.tolerancePsi = 7.5;
    r.decisionRule = DecisionRule::Guarded;
    r.procedureId = "CAL-VX4-5P";
    r.ambientCelsius = 21.5;
    r.calibrationSaved = finished;
    r.nextCalibrationDate = QDate(2027, 3, 4);
    r.pdfSha256 = QString("0123456789abcdef").repeated(4);
    r.calibrated = QDateTime(QDate(2026, 3, 4 + day), QTime(10, 15), QTimeZone(3600));
    r.company = "Tarrow Labs";
    r.calibratorSerial = "C-4471";
    r.calibratorCertificate = "NIST-88/1";
    for (int i = 0; i < CalibrationRecord::PointCount; ++i) {
        const double set = 750.0 * i;
        const Capture verified = finished || i < 2 ? Capture::Stable : Capture::None;
        r.points[size_t(i)] = { set,
                                set + 0.25 * i,
                                set + 1.5 - 0.875 * i,
                                set - 0.5,
                                set - 0.125 * i,
                                i == 2 ? Capture::Unstable : Capture::Stable,
                                verified,
                                i == 2 ? std::nullopt : std::optional(0.5),
                                0.75 };
    }
    return r;
}

QJsonArray json(const QList<CalibrationRecord> &runs)
{
    QJsonArray array;
    for (const CalibrationRecord &r : runs)
        array.append(r.toJson());
    return array;
}

QString thisYear(int sequence)
{
    return QString::asprintf("VX4-%d-%06d", QDate::currentDate().year(), sequence);
}

QStringList helperArguments(const HistoryLocation &l)
{
    QStringList args { "pending=" + l.pendingFile, "block=" + l.blockFile, "bench=" + l.bench };
    if (l.backend == HistoryLocation::Backend::Sqlite)
        return args << "sqlite=" + l.sqliteFile;
    return args << "host=" + l.host << QString("port=%1").arg(l.port) << "database=" + l.database
                << "user=" + l.user;
}
