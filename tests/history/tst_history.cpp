// The calibration history against SQLite and a throwaway PostgreSQL server, with one table of cases
// for both: runs stored and read back, certificate numbers, the schema version, runs kept pending
// while the database cannot be written and stored once when it is back, and vx4ctl history.
#include "calibrationhistory.h"
#include "settingskeys.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace {

using Outcome = CalibrationRecord::Outcome;

struct Ran
{
    int code = -1;
    QString out;
    QString err;
};

Ran runProgram(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    const bool finished = p.waitForFinished(60000);
    p.kill();
    return { finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
             QString::fromUtf8(p.readAllStandardOutput()),
             QString::fromUtf8(p.readAllStandardError())
                 + (finished ? QString() : p.errorString()) };
}

/// A PostgreSQL server in a temporary folder, listening on its socket only. As root it runs as the
/// postgres user: initdb refuses root.
class PgServer
{
public:
    static constexpr int port = 54329;

    QString start()
    {
        const QDir versions("/usr/lib/postgresql");
        for (const QString &v : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            m_bin = QFile::exists(versions.filePath(v + "/bin/initdb"))
                ? versions.filePath(v + "/bin/")
                : m_bin;
        if (m_bin.isEmpty() || !QSqlDatabase::isDriverAvailable("QPSQL"))
            return "no PostgreSQL server or no Qt driver for it (scripts/install-deps.sh)";
        m_dir.emplace(QDir::tempPath() + "/vx4pg-XXXXXX");
        if (geteuid() == 0) {
            const passwd *pw = getpwnam("postgres");
            if (!pw || chown(qPrintable(m_dir->path()), pw->pw_uid, pw->pw_gid) != 0)
                return "running as root without a postgres user to run the server";
            m_asUser = QStringList { "runuser", "-u", "postgres", "--" };
        }
        Ran r = run({ "initdb", "-D", data(), "-A", "trust", "-U", "vx4", "--no-sync" });
        if (r.code == 0)
            r = run({ "pg_ctl", "-D", data(), "-w", "-l", m_dir->filePath("log"), "-o",
                      QString("-k %1 -h '' -p %2 -F").arg(m_dir->path()).arg(port), "start" });
        if (r.code != 0)
            return "the throwaway PostgreSQL server cannot start: " + r.err.trimmed();
        m_running = true;
        return {};
    }

    void stop()
    {
        if (std::exchange(m_running, false))
            run({ "pg_ctl", "-D", data(), "-m", "immediate", "-w", "stop" });
    }

    HistoryLocation location(const QString &database) const
    {
        HistoryLocation l;
        l.backend = HistoryLocation::Backend::Postgres;
        l.host = m_dir->path();
        l.port = port;
        l.database = database;
        l.user = "vx4";
        return l;
    }

private:
    QString data() const { return m_dir->filePath("data"); }
    Ran run(QStringList command) const
    {
        command = m_asUser + QStringList { m_bin + command.first() } + command.mid(1);
        return runProgram(command.first(), command.mid(1));
    }

    std::optional<QTemporaryDir> m_dir;
    QStringList m_asUser;
    QString m_bin;
    bool m_running = false;
};

/// The test's own connection to a history's database, beside the history's.
class RawConnection
{
public:
    explicit RawConnection(const HistoryLocation &l)
    {
        const bool sqlite = l.backend == HistoryLocation::Backend::Sqlite;
        QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", m_name);
        db.setDatabaseName(sqlite ? l.sqliteFile : l.database);
        db.setHostName(l.host);
        db.setPort(l.port);
        db.setUserName(l.user);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    }
    ~RawConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    QVariant value(const QString &sql)
    {
        QSqlQuery q(QSqlDatabase::database(m_name));
        if (!q.exec(sql)) {
            qWarning() << sql << q.lastError().text();
            return "failed";
        }
        return q.next() ? q.value(0) : QVariant();
    }

private:
    QString m_name = QString("raw-%1").arg(quintptr(this));
};

CalibrationRecord sampleRun(const QString &serial, const QString &certificate, int day,
                            Outcome outcome = Outcome::Finished, const QString &reason = {})
{
    CalibrationRecord r;
    r.certificateNumber = certificate;
    r.senderSerial = serial;
    r.firmware = "VX4 2.14";
    r.started = QDateTime(QDate(2026, 3, 4 + day), QTime(9, 15, 30, 250), Qt::UTC);
    r.finished = outcome == Outcome::Aborted ? QDateTime() : r.started.addSecs(1234);
    r.outcome = outcome;
    r.reason = reason;
    r.technician = "Åse Ødegård";
    r.referenceCalibrator = "Fluke 700G31 #4471";
    r.referenceDueDate = QDate(2026, 9, 30);
    r.tolerancePsi = 7.5;
    r.nextCalibrationDate = QDate(2027, 3, 4);
    r.pdfSha256 = QString("0123456789abcdef").repeated(4);
    r.calibrated = QDateTime(QDate(2026, 3, 4 + day), QTime(10, 15), QTimeZone(3600));
    r.company = "Tarrow Labs";
    r.calibratorSerial = "C-4471";
    r.calibratorCertificate = "NIST-88/1";
    for (int i = 0; i < CalibrationRecord::PointCount; ++i)
        r.points[size_t(i)]
            = { 750.0 * i,
                750.0 * i + 0.25 * i,
                750.0 * i + 1.5 - 0.875 * i,
                750.0 * i - 0.5,
                750.0 * i - 0.125 * i,
                i == 2 ? Capture::Unstable : Capture::Stable,
                outcome == Outcome::Finished || i < 2 ? Capture::Stable : Capture::None };
    return r;
}

QStringList certificates(const QList<CalibrationRecord> &runs)
{
    QStringList list;
    for (const CalibrationRecord &r : runs)
        list << r.certificateNumber;
    return list;
}

QString thisYear(int sequence)
{
    return QString("VX4-%1-%2")
        .arg(QDate::currentDate().year())
        .arg(sequence, 6, 10, QLatin1Char('0'));
}

enum Fault { FolderBlocked, Locked, ReadOnly, ServerDown };
enum CtlSetup { NoHistory, TwoRuns, NotADatabase, PgTwoRuns, PgDown };

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void storedRunsReadBack_data();
    void storedRunsReadBack();
    void certificateNumbers_data();
    void certificateNumbers();
    void schemaVersion_data();
    void schemaVersion();
    void pendingUntilBack_data();
    void pendingUntilBack();
    void vx4ctlHistory_data();
    void vx4ctlHistory();

private:
    void addBackends();
    /// A new empty history of the backend; false when that backend cannot run here.
    bool fresh(const QString &backend, HistoryLocation *location);

    QTemporaryDir m_work;
    PgServer m_pg;
    QString m_pgMissing; ///< why the PostgreSQL rows are skipped
    int m_count = 0;
};

void TestHistory::initTestCase()
{
    QVERIFY(m_work.isValid());
    // Own folders even when run outside ctest: nothing here touches the user's settings or data.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_work.filePath("xdg-data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_work.filePath("xdg-config")));
    m_pgMissing = m_pg.start();
    if (!m_pgMissing.isEmpty())
        qWarning("PostgreSQL rows are skipped: %s", qPrintable(m_pgMissing));
}

void TestHistory::cleanupTestCase()
{
    m_pg.stop();
}

void TestHistory::cleanup()
{
    QSettings(SettingsStore::Organisation, SettingsStore::Application)
        .remove(SettingsStore::HistoryGroup::Name);
}

void TestHistory::addBackends()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << "sqlite";
    QTest::newRow("postgresql") << "postgresql";
}

bool TestHistory::fresh(const QString &backend, HistoryLocation *l)
{
    const QString dir = m_work.filePath(QString::number(++m_count));
    if (backend == QLatin1String("postgresql")) {
        if (!m_pgMissing.isEmpty())
            return false;
        const QString name = QString("history%1").arg(m_count);
        RawConnection admin(m_pg.location("postgres"));
        admin.value(QString("CREATE DATABASE %1").arg(name));
        *l = m_pg.location(name);
    } else {
        l->sqliteFile = dir + "/db/history.sqlite";
    }
    l->pendingFile = dir + "/pending.jsonl";
    l->issuedFile = dir + "/issued";
    l->busyTimeoutMs = 50;
    return true;
}

#define FRESH(backend, location)                                                                   \
    if (!fresh(backend, location))                                                                 \
    QSKIP(qPrintable(m_pgMissing))

void TestHistory::storedRunsReadBack_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("reason");
    for (const char *backend : { "sqlite", "postgresql" }) {
        QTest::addRow("%s: finished", backend) << backend << int(Outcome::Finished) << "";
        QTest::addRow("%s: cancelled", backend)
            << backend << int(Outcome::Cancelled) << "Cancelled by the technician";
        QTest::addRow("%s: aborted", backend)
            << backend << int(Outcome::Aborted) << "The sender stopped answering";
    }
}

void TestHistory::storedRunsReadBack()
{
    QFETCH(QString, backend);
    QFETCH(int, outcome);
    QFETCH(QString, reason);
    HistoryLocation l;
    FRESH(backend, &l);
    CalibrationHistory h(l);
    // Stored out of time order: the list is by start time, newest first.
    QList<CalibrationRecord> stored { sampleRun("42", "VX4-2026-000003", 2),
                                      sampleRun("42", "VX4-2026-000001", 0, Outcome(outcome),
                                                reason),
                                      sampleRun("77", "VX4-2026-000002", 1) };
    for (CalibrationRecord &r : stored) {
        const auto result = h.store(r);
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QVERIFY(result.id > 0 && !result.pending);
        r.id = result.id;
    }
    QString error;
    const auto all = h.runs({}, &error);
    QVERIFY2(all, qPrintable(error));
    QCOMPARE(certificates(*all),
             QStringList({ "VX4-2026-000003", "VX4-2026-000002", "VX4-2026-000001" }));
    QCOMPARE(all->at(2).toJson(), stored.at(1).toJson());
    QCOMPARE(certificates(*h.runs("42", &error)),
             QStringList({ "VX4-2026-000003", "VX4-2026-000001" }));
    QCOMPARE(certificates(*h.runs("4", &error)), QStringList());
    QCOMPARE(h.pendingCount(), 0);
}

void TestHistory::certificateNumbers_data()
{
    addBackends();
}

void TestHistory::certificateNumbers()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    CalibrationHistory h(l);
    QString error = "unset";
    QCOMPARE(h.nextCertificateNumber(&error), thisYear(1));
    QCOMPARE(error, QString());
    // A number handed out is not handed out again, even before its run is stored.
    QCOMPARE(h.nextCertificateNumber(), thisYear(2));
    const CalibrationRecord run = sampleRun("42", "VX4-2025-000041", 0);
    QVERIFY(h.store(run).id > 0);
    QCOMPARE(h.nextCertificateNumber(), thisYear(42));

    // Another computer on the same database derives its numbers from the stored runs.
    HistoryLocation other = l;
    other.issuedFile = l.issuedFile + "-other";
    QCOMPARE(CalibrationHistory(other).nextCertificateNumber(), thisYear(42));

    // The same run stored again stays one row; another run with its number is refused.
    QCOMPARE(h.store(run).id, h.runs({}, &error)->first().id);
    const auto clash = h.store(sampleRun("77", "VX4-2025-000041", 1));
    QCOMPARE(clash.id, 0);
    QVERIFY2(clash.error.contains("already stored for another run"), qPrintable(clash.error));
    QCOMPARE(h.runs({}, &error)->size(), 1);
    const auto unnumbered = h.store(sampleRun("77", "", 1));
    QVERIFY(unnumbered.id == 0 && !unnumbered.pending && unnumbered.error.contains("certificate"));
}

void TestHistory::schemaVersion_data()
{
    addBackends();
}

void TestHistory::schemaVersion()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    QString error;
    QDir().mkpath(QFileInfo(l.sqliteFile).path());
    RawConnection raw(l);
    // A lab's database from the first version, holding a run, is upgraded in place.
    for (const char *sql :
         { "CREATE TABLE schema_version (version INTEGER NOT NULL)",
           "INSERT INTO schema_version VALUES (1)",
           "CREATE TABLE calibration_runs (id INTEGER PRIMARY KEY, certificate_number TEXT NOT "
           "NULL UNIQUE, certificate_sequence INTEGER NOT NULL, sender_serial TEXT NOT NULL, "
           "firmware TEXT NOT NULL, started_utc TEXT NOT NULL, finished_utc TEXT NOT NULL, "
           "outcome TEXT NOT NULL, reason TEXT NOT NULL, technician TEXT NOT NULL, "
           "reference_calibrator TEXT NOT NULL, reference_due TEXT NOT NULL, tolerance_psi "
           "DOUBLE PRECISION NOT NULL, next_calibration TEXT NOT NULL, pdf_sha256 TEXT NOT NULL)",
           "CREATE TABLE calibration_points (run_id INTEGER NOT NULL REFERENCES calibration_runs "
           "(id), point_index INTEGER NOT NULL, set_point DOUBLE PRECISION NOT NULL, reference "
           "DOUBLE PRECISION NOT NULL, as_found DOUBLE PRECISION NOT NULL, as_left DOUBLE "
           "PRECISION NOT NULL, PRIMARY KEY (run_id, point_index))",
           "INSERT INTO calibration_runs VALUES (1, 'VX4-2025-000009', 9, '42', '2.1', "
           "'2025-05-01T08:00:00.000Z', '2025-05-01T08:30:00.000Z', 'finished', '', 'A B', 'F', "
           "'2025-12-01', 10, '2026-05-01', '')",
           "INSERT INTO calibration_points VALUES (1, 3, 2250, 2250.5, 2254, 2249)" })
        raw.value(sql);
    QVERIFY2(CalibrationHistory(l).open(&error), qPrintable(error));
    QVERIFY2(CalibrationHistory(l).open(&error), qPrintable(error));
    const auto upgraded = CalibrationHistory(l).runs({}, &error);
    QVERIFY2(upgraded && upgraded->size() == 1, qPrintable(error));
    const CalibrationPoint p = upgraded->first().points[3];
    QCOMPARE(p.asLeftReference, 2250.5);
    QCOMPARE(p.asLeftError(), -1.5);
    QVERIFY(p.asFoundCapture == Capture::Stable && p.asLeftCapture == Capture::Stable);
    QCOMPARE(raw.value("SELECT COUNT(*) FROM schema_version").toInt(), 1);
    QCOMPARE(raw.value("SELECT version FROM schema_version").toInt(),
             CalibrationHistory::SchemaVersion);

    raw.value("UPDATE schema_version SET version = 7");
    CalibrationHistory newer(l);
    QVERIFY(!newer.open(&error));
    QVERIFY2(error.contains("schema version 7 is newer than this program's (2)"),
             qPrintable(error));
    QVERIFY(newer.store(sampleRun("42", "VX4-2026-000001", 0)).pending);
    QCOMPARE(raw.value("SELECT COUNT(*) FROM calibration_runs").toInt(), 1);
}

void TestHistory::pendingUntilBack_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<int>("fault");
    QTest::newRow("sqlite: folder cannot be made") << "sqlite" << int(FolderBlocked);
    QTest::newRow("sqlite: locked by another program") << "sqlite" << int(Locked);
    QTest::newRow("sqlite: read-only file") << "sqlite" << int(ReadOnly);
    QTest::newRow("postgresql: server down") << "postgresql" << int(ServerDown);
}

void TestHistory::pendingUntilBack()
{
    QFETCH(QString, backend);
    QFETCH(int, fault);
    HistoryLocation good;
    FRESH(backend, &good);
    HistoryLocation bad = good;
    const QString folder = QFileInfo(good.sqliteFile).absolutePath();
    std::optional<RawConnection> lock;
    bool immutable = false;
    const auto unlock = qScopeGuard([&] {
        if (immutable)
            runProgram("chattr", { "-i", good.sqliteFile });
    });
    if (fault != FolderBlocked)
        QVERIFY(CalibrationHistory(good).open(nullptr));
    switch (fault) {
    case FolderBlocked:
        QVERIFY(QDir().mkpath(QFileInfo(folder).absolutePath()));
        QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        break;
    case Locked:
        lock.emplace(good);
        QCOMPARE(lock->value("BEGIN EXCLUSIVE"), QVariant());
        break;
    case ReadOnly:
        QVERIFY(QFile::setPermissions(good.sqliteFile, QFile::ReadOwner));
        if (QFile(good.sqliteFile).open(QIODevice::ReadWrite)) { // root: make it immutable
            immutable = runProgram("chattr", { "+i", good.sqliteFile }).code == 0;
            if (!immutable)
                QSKIP("running as root, and the file cannot be made immutable");
        }
        break;
    case ServerDown:
        bad.port = good.port + 1;
        break;
    }

    CalibrationHistory down(bad);
    QString error;
    const QString number = down.nextCertificateNumber(&error);
    const CalibrationRecord run = sampleRun("42", number, 0);
    const auto result = down.store(run);
    QVERIFY(result.pending);
    QCOMPARE(result.id, 0);
    QVERIFY2(result.error.contains(good.pendingFile), qPrintable(result.error));
    QVERIFY(down.flushPending(&error) <= 0);
    QCOMPARE(down.pendingCount(), 1);
    // Numbers go on from the waiting run, database or not.
    QCOMPARE(down.nextCertificateNumber(), thisYear(2));

    // The database is back.
    lock.reset();
    if (immutable)
        immutable = runProgram("chattr", { "-i", good.sqliteFile }).code != 0;
    if (fault == ReadOnly)
        QFile::setPermissions(good.sqliteFile, QFile::ReadOwner | QFile::WriteOwner);
    if (fault == FolderBlocked)
        QFile::remove(folder);
    CalibrationHistory back(good);
    QCOMPARE(back.flushPending(&error), 1);
    QCOMPARE(error, QString());
    QCOMPARE(back.pendingCount(), 0);
    QCOMPARE(back.flushPending(&error), 0);

    // A line that outlived its commit (a crash in between) leaves the file without a second row.
    QFile pending(good.pendingFile);
    QVERIFY(pending.open(QIODevice::WriteOnly));
    pending.write(QJsonDocument(run.toJson()).toJson(QJsonDocument::Compact) + "\n");
    pending.close();
    QCOMPARE(back.flushPending(&error), 1);
    const auto runs = back.runs({}, &error);
    QVERIFY2(runs, qPrintable(error));
    QCOMPARE(certificates(*runs), QStringList { number });
    CalibrationRecord expected = run;
    expected.id = runs->first().id;
    QCOMPARE(runs->first().toJson(), expected.toJson());

    // The next run stored takes the waiting ones along.
    QVERIFY(pending.open(QIODevice::WriteOnly));
    pending.write(
        QJsonDocument(sampleRun("77", thisYear(3), 1).toJson()).toJson(QJsonDocument::Compact)
        + "\n");
    pending.close();
    QVERIFY(back.store(sampleRun("42", thisYear(4), 2)).id > 0);
    QCOMPARE(back.pendingCount(), 0);
    QCOMPARE(certificates(*back.runs({}, &error)),
             QStringList({ thisYear(4), thisYear(3), number }));
}

void TestHistory::vx4ctlHistory_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString line1
        = "VX4-\\d{4}-000001  serial 42  2026-03-04 09:15 UTC  finished  Åse Ødegård\n";
    const QString line2 = "VX4-\\d{4}-000002  serial 77  2026-03-05 09:15 UTC  cancelled "
                          "\\(Cancelled by the technician\\)  Åse Ødegård\n";
    QTest::newRow("no history yet") << int(NoHistory) << QStringList { "history" } << 0 << "^$"
                                    << "^$";
    QTest::newRow("two runs") << int(TwoRuns) << QStringList { "history" } << 0
                              << "^" + line2 + line1 + "$"
                              << "^$";
    QTest::newRow("one sender") << int(TwoRuns) << QStringList { "history", "--serial", "42" } << 0
                                << "^" + line1 + "$"
                                << "^$";
    QTest::newRow("--json") << int(TwoRuns) << QStringList { "history", "--json" } << 0
                            << "^\\{[^\n]*\"certificate\":\"VX4-\\d{4}-000002\"[^\n]*\\}\n"
                               "\\{[^\n]*\"outcome\":\"finished\"[^\n]*\\}\n$"
                            << "^$";
    QTest::newRow("not a database")
        << int(NotADatabase) << QStringList { "history" } << 1 << "^$"
        << "^vx4ctl: history: the SQLite file .* cannot be opened: [^\n]+\n$";
    QTest::newRow("postgresql: two runs")
        << int(PgTwoRuns) << QStringList { "history" } << 0 << "^" + line2 + line1 + "$"
        << "^$";
    QTest::newRow("postgresql: server down")
        << int(PgDown) << QStringList { "history" } << 1 << "^$"
        << "^vx4ctl: history: the PostgreSQL database \"\\w+\" on .* cannot be opened: [^\n]+\n$";
}

void TestHistory::vx4ctlHistory()
{
    QFETCH(int, setup);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QVERIFY(QDir(HistoryLocation::dataFolder()).removeRecursively());
    if (setup == PgTwoRuns || setup == PgDown) {
        HistoryLocation l;
        FRESH("postgresql", &l);
        namespace K = SettingsStore::HistoryGroup;
        QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
        settings.beginGroup(K::Name);
        settings.setValue(K::Backend, "postgresql");
        settings.setValue(K::Host, l.host);
        settings.setValue(K::Port, setup == PgDown ? l.port + 1 : l.port);
        settings.setValue(K::Database, l.database);
        settings.setValue(K::User, l.user);
    }
    if (setup == TwoRuns || setup == PgTwoRuns) {
        CalibrationHistory h;
        QVERIFY(h.store(sampleRun("42", h.nextCertificateNumber(), 0)).id > 0);
        QVERIFY(h.store(sampleRun("77", h.nextCertificateNumber(), 1, Outcome::Cancelled,
                                  "Cancelled by the technician"))
                    .id
                > 0);
    }
    if (setup == NotADatabase) {
        QVERIFY(QDir().mkpath(HistoryLocation::dataFolder()));
        QFile file(HistoryLocation::fromSettings().sqliteFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    const Ran ran = runProgram(VX4CTL_PATH, args);
    QCOMPARE(ran.code, code);
    QVERIFY2(QRegularExpression(out).match(ran.out).hasMatch(), qPrintable(ran.out));
    QVERIFY2(QRegularExpression(err).match(ran.err).hasMatch(), qPrintable(ran.err));
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
