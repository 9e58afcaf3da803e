// The calibration history against SQLite and a throwaway PostgreSQL server (runs stored and read
// back, certificate numbers, the schema version, runs pending while the database cannot be
// written), the history of the settings as vx4ctl and the View menu show it, and the History
// window on seeded histories: runs, as-found errors, drift and certificates written again.
#include "calibrationhistory.h"
#include "certificate.h"
#include "historywindow.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "settingskeys.h"

#include <QtCharts>
#include <QtSql>
#include <QtTest>
#include <QtWidgets>

#include <pwd.h>
#include <unistd.h>

namespace {

using Outcome = CalibrationRecord::Outcome;

/// "exit code|output|errors" of `command`; the code is -1 when it did not end normally.
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

/// A PostgreSQL server in a temporary folder, listening on its socket only, stopped with the test.
/// As root it runs as the postgres user: initdb refuses root.
struct PgServer
{
    static constexpr int Port = 54329;
    QTemporaryDir dir { QDir::tempPath() + "/vx4pg-XXXXXX" };
    QStringList asUser;
    QString bin;
    bool running = false;

    ~PgServer()
    {
        if (running)
            run({ "pg_ctl", "-D", dir.filePath("data"), "-m", "immediate", "-w", "stop" });
    }
    QString run(const QStringList &command) const
    {
        return runProgram(asUser + QStringList { bin + command.first() } + command.mid(1));
    }
    QString start()
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
        QString r = run(
            { "initdb", "-D", dir.filePath("data"), "-A", "trust", "-U", "vx4", "--no-sync" });
        if (r.startsWith("0|"))
            r = run({ "pg_ctl", "-D", dir.filePath("data"), "-w", "-l", dir.filePath("log"), "-o",
                      QString("-k %1 -h '' -p %2 -F").arg(dir.path()).arg(Port), "start" });
        running = r.startsWith("0|");
        return running ? QString() : "the throwaway PostgreSQL server cannot start: " + r.trimmed();
    }
    HistoryLocation location(const QString &database) const
    {
        return {
            HistoryLocation::Backend::Postgres, {}, dir.path(), Port, database, "vx4", {}, {}
        };
    }
};

/// Runs `statement` on the database of `l` over the test's own connection, which stays open (and
/// keeps any transaction) until the next statement; its first value, or "failed".
QVariant sql(const HistoryLocation &l, const QString &statement)
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
        return "failed";
    }
    return q.next() ? q.value(0) : QVariant();
}

/// Every field filled; as-found errors 1.5 - 1.125 i and as-left errors 0.5 - 0.125 i (PSI); a run
/// that did not finish captured only its first two verification readings.
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
    for (int i = 0; i < CalibrationRecord::PointCount; ++i) {
        const double set = 750.0 * i;
        const Capture verified
            = outcome == Outcome::Finished || i < 2 ? Capture::Stable : Capture::None;
        r.points[size_t(i)]
            = { set,       set + 0.25 * i,  set + 1.5 - 0.875 * i,
                set - 0.5, set - 0.125 * i, i == 2 ? Capture::Unstable : Capture::Stable,
                verified };
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

QStringList column(QTableWidget *table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->item(row, column)->text();
    return texts;
}

/// Each series as "name: x/y x/y ...", x in msecs since the epoch.
QStringList seriesTexts(QChart *chart)
{
    QStringList texts;
    for (QAbstractSeries *s : chart->series()) {
        QString text = s->name() + ':';
        for (const QPointF &p : static_cast<QLineSeries *>(s)->points())
            text += QString(" %1/%2").arg(qint64(p.x())).arg(p.y());
        texts << text;
    }
    return texts;
}

enum Fault { Locked, PointRefused, ServerDown };
enum Setup { NoHistory, TwoRuns, NotADatabase, Recovered, PgDown };

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void storedRunsAndCertificateNumbers_data() { addBackends(); }
    void storedRunsAndCertificateNumbers();
    void schemaVersion_data() { addBackends(); }
    void schemaVersion();
    void pendingUntilBack_data();
    void pendingUntilBack();
    void historyOfTheSettings_vx4ctlAndTheViewMenuShowIt_data();
    void historyOfTheSettings_vx4ctlAndTheViewMenuShowIt();
    void window_sendersTheirRunsAndAsFoundErrors();
    void window_driftSinceTheLastFinishedRun_data();
    void window_driftSinceTheLastFinishedRun();
    void window_certificateWrittenAgain_data();
    void window_certificateWrittenAgain();

private:
    void addBackends();
    /// A new empty history of the backend; false when that backend cannot run here.
    bool fresh(const QString &backend, HistoryLocation *location);
    /// A new SQLite history holding `runs`.
    HistoryLocation seeded(const QList<CalibrationRecord> &runs);

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
        sql(m_pg.location("postgres"), QString("CREATE DATABASE %1").arg(name));
        *l = m_pg.location(name);
    } else {
        l->sqliteFile = dir + "/db/history.sqlite";
    }
    l->pendingFile = dir + "/pending.jsonl";
    l->issuedFile = dir + "/issued";
    l->busyTimeoutMs = 50;
    return true;
}

HistoryLocation TestHistory::seeded(const QList<CalibrationRecord> &runs)
{
    HistoryLocation l;
    fresh("sqlite", &l);
    CalibrationHistory history(l);
    for (const CalibrationRecord &r : runs)
        history.store(r);
    return l;
}

#define FRESH(backend, location)                                                                   \
    if (!fresh(backend, location))                                                                 \
    QSKIP(qPrintable(m_pgMissing))

void TestHistory::storedRunsAndCertificateNumbers()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    CalibrationHistory h(l);
    QString error;
    QCOMPARE(h.nextCertificateNumber(&error), thisYear(1));
    // A number handed out is not handed out again, even before its run is stored.
    QCOMPARE(h.nextCertificateNumber(), thisYear(2));

    // Stored out of time order: the list is by start time, newest first.
    QList<CalibrationRecord> stored {
        sampleRun("42", "VX4-2025-000041", 2),
        sampleRun("42", "VX4-2026-000001", 0, Outcome::Cancelled, "Cancelled by the technician"),
        sampleRun("77", "VX4-2026-000002", 1, Outcome::Aborted, "The sender stopped answering")
    };
    for (CalibrationRecord &r : stored) {
        const auto result = h.store(r);
        QVERIFY2(result.id > 0 && !result.pending && result.error.isEmpty(),
                 qPrintable(result.error));
        r.id = result.id;
    }
    const auto all = h.runs({}, &error);
    QVERIFY2(all, qPrintable(error));
    QCOMPARE(json(*all), json({ stored[0], stored[2], stored[1] }));
    QCOMPARE(json(*h.runs("42", &error)), json({ stored[0], stored[1] }));
    QCOMPARE(h.runs("4", &error)->size(), 0);
    // Past the highest stored, not only the highest handed out here.
    QCOMPARE(h.nextCertificateNumber(), thisYear(42));

    // The same run stored again stays one row; another run with its number is refused.
    QCOMPARE(h.store(stored[0]).id, stored[0].id);
    const auto clash = h.store(sampleRun("77", "VX4-2025-000041", 1));
    QVERIFY2(clash.id == 0 && clash.error.contains("already stored for another run"),
             qPrintable(clash.error));
    const auto unnumbered = h.store(sampleRun("77", "", 1));
    QVERIFY(unnumbered.id == 0 && !unnumbered.pending && unnumbered.error.contains("certificate"));
    QCOMPARE(h.runs({}, &error)->size(), 3);
}

void TestHistory::schemaVersion()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    QString error;
    QDir().mkpath(QFileInfo(l.sqliteFile).path());
    // A lab's database from the first version, holding a run, is upgraded in place.
    for (const char *statement :
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
        sql(l, statement);
    QVERIFY2(CalibrationHistory(l).open(&error), qPrintable(error));
    // Opened again: the upgrade, once recorded, is not run a second time.
    QVERIFY2(CalibrationHistory(l).open(&error), qPrintable(error));
    const auto upgraded = CalibrationHistory(l).runs({}, &error);
    QVERIFY2(upgraded && upgraded->size() == 1, qPrintable(error));
    const CalibrationPoint p = upgraded->first().points[3];
    QCOMPARE(p.asLeftReference, 2250.5);
    QVERIFY(p.asFoundCapture == Capture::Stable && p.asLeftCapture == Capture::Stable);

    sql(l, "UPDATE schema_version SET version = 7");
    const auto refused = CalibrationHistory(l).store(sampleRun("42", "VX4-2026-000001", 0));
    QVERIFY2(refused.pending && refused.error.contains("schema version 7 is newer"),
             qPrintable(refused.error));
}

void TestHistory::pendingUntilBack_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("sqlite: locked by another program") << int(Locked);
    QTest::newRow("sqlite: a point refused after its run") << int(PointRefused);
    QTest::newRow("postgresql: server down") << int(ServerDown);
}

void TestHistory::pendingUntilBack()
{
    QFETCH(int, fault);
    HistoryLocation good;
    FRESH(fault == ServerDown ? "postgresql" : "sqlite", &good);
    HistoryLocation bad = good;
    bad.port += fault == ServerDown ? 1 : 0; // where no server answers
    QVERIFY(CalibrationHistory(good).open(nullptr));
    // A refused point comes after its run's row is written: nothing of the run may stay.
    if (fault == Locked || fault == PointRefused)
        QCOMPARE(sql(good,
                     fault == Locked ? "BEGIN EXCLUSIVE"
                                     : "CREATE TRIGGER refuse BEFORE INSERT ON calibration_points "
                                       "BEGIN SELECT RAISE(ABORT, 'full'); END"),
                 QVariant());

    CalibrationHistory down(bad);
    QString error;
    const QString number = down.nextCertificateNumber(&error);
    const CalibrationRecord run = sampleRun("42", number, 0);
    const auto result = down.store(run);
    QVERIFY2(result.pending && result.id == 0 && result.error.contains(good.pendingFile),
             qPrintable(result.error));
    QVERIFY(down.flushPending(&error) <= 0);
    QCOMPARE(down.pendingCount(), 1);
    // Numbers go on from the waiting run, database or not.
    QCOMPARE(down.nextCertificateNumber(), thisYear(2));

    // The database is back: the next run stored takes the waiting one along.
    if (fault == Locked || fault == PointRefused)
        QCOMPARE(sql(good, fault == Locked ? "COMMIT" : "DROP TRIGGER refuse"), QVariant());
    CalibrationHistory back(good);
    QVERIFY(back.store(sampleRun("77", thisYear(3), 1)).id > 0);
    QCOMPARE(back.pendingCount(), 0);
    // A line that outlived its commit (a crash in between) leaves the file without a second row;
    // a line that cannot be read stays there for someone to look at.
    QFile pending(good.pendingFile);
    QVERIFY(pending.open(QIODevice::WriteOnly));
    pending.write("{\"certificate\":\n"
                  + QJsonDocument(run.toJson()).toJson(QJsonDocument::Compact));
    pending.close();
    QCOMPARE(back.flushPending(&error), 1);
    QVERIFY2(error.startsWith("pending run 1: ") && back.pendingCount() == 1, qPrintable(error));
    const auto runs = back.runs("42", &error);
    QVERIFY2(runs, qPrintable(error));
    CalibrationRecord expected = run;
    expected.id = runs->first().id;
    QCOMPARE(json(*runs), json({ expected }));
}

void TestHistory::historyOfTheSettings_vx4ctlAndTheViewMenuShowIt_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("vx4ctl"); ///< "vx4ctl history" as "exit code|output|errors"
    QTest::addColumn<QString>("window"); ///< what the window says of the history
    QTest::newRow("no history yet")
        << int(NoHistory) << "^0\\|\\|$"
        << "^No calibration run is stored in the SQLite file .*history.sqlite yet.$";
    QTest::newRow("two runs")
        << int(TwoRuns)
        << "^0\\|CERTIFICATE +SERIAL +STARTED +OUTCOME +TECHNICIAN\nVX4-\\d{4}-000002 +77 "
           "+2026-03-05 "
           "09:15 UTC +cancelled \\(Cancelled by the technician\\) +Åse Ødegård\nVX4-\\d{4}-000001 "
           "+42 +2026-03-04 09:15 UTC +finished +Åse Ødegård\n\\|$"
        << "^$";
    QTest::newRow("not a database, two runs waiting")
        << int(NotADatabase)
        << "^1\\|\\|vx4ctl: history: the SQLite file .* cannot be opened: [^\n]+\n$"
        << "^The calibration history cannot be read: the SQLite file .* cannot be opened: .+\n"
           "2 runs are waiting in \".*pending-history.jsonl\": stored once the database";
    // The window stores the waiting runs once the database is back; vx4ctl only reads.
    QTest::newRow("database back, two runs waiting") << int(Recovered) << "^0\\|\\|$"
                                                     << "^$";
    // Last: the settings it leaves are read by no later case.
    QTest::newRow("postgresql: server down")
        << int(PgDown)
        << "^1\\|\\|vx4ctl: history: the PostgreSQL database \"\\w+\" on .* cannot be opened: "
           "[^\n]+\n$"
        << "^The calibration history cannot be read: the PostgreSQL database .* cannot be opened";
}

void TestHistory::historyOfTheSettings_vx4ctlAndTheViewMenuShowIt()
{
    QFETCH(int, setup);
    QFETCH(QString, vx4ctl);
    QFETCH(QString, window);
    QVERIFY(QDir(HistoryLocation::dataFolder()).removeRecursively());
    if (setup == PgDown) { // no server answers on the port after the throwaway one's
        namespace K = SettingsStore::HistoryGroup;
        QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
        settings.beginGroup(K::Name);
        settings.setValue(K::Backend, "postgresql");
        settings.setValue(K::Host, m_work.path());
        settings.setValue(K::Port, PgServer::Port + 1);
    }
    const HistoryLocation l = HistoryLocation::fromSettings();
    if (setup == NotADatabase || setup == Recovered) {
        QFile file(l.sqliteFile);
        QVERIFY(QDir().mkpath(HistoryLocation::dataFolder()) && file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    const QString reason = "Cancelled by the technician";
    for (const CalibrationRecord &r :
         { sampleRun("42", thisYear(1), 0),
           sampleRun("77", thisYear(2), 1, Outcome::Cancelled, reason) }) {
        // Stored, or waiting in the pending file when the database is no database.
        if (setup != NoHistory && setup != PgDown)
            QVERIFY(CalibrationHistory().store(r).pending == (setup != TwoRuns));
    }
    QVERIFY(setup != Recovered || QFile::remove(l.sqliteFile));
    const QString ctl = runProgram({ VX4CTL_PATH, "history" });
    QVERIFY2(QRegularExpression(vx4ctl).match(ctl).hasMatch(), qPrintable(ctl));

    MainWindow main(QStringList {});
    QAction *action = main.form()->actionCalibrationHistory;
    QVERIFY(main.form()->menuOptions->actions().contains(action));
    action->trigger();
    HistoryWindow *w = main.calibrationHistoryWindow();
    QVERIFY(w && w->isVisible());
    const QString state = w->databaseState()->text();
    QVERIFY2(QRegularExpression(window).match(state).hasMatch(), qPrintable(state));
    QCOMPARE(w->senderList()->count(), setup == TwoRuns || setup == Recovered ? 2 : 0);
    QCOMPARE(CalibrationHistory().pendingCount(), setup == NotADatabase ? 2 : 0);
    // Neither leaves an empty database behind where none was written.
    QCOMPARE(QFile::exists(l.sqliteFile), setup != NoHistory && setup != PgDown);
}

void TestHistory::window_sendersTheirRunsAndAsFoundErrors()
{
    CalibrationRecord outside = sampleRun("42", "VX4-2026-000001", 0);
    outside.points[4].asFound -= 5;
    CalibrationRecord cancelled
        = sampleRun("42", "VX4-2026-000003", 2, Outcome::Cancelled, "Cancelled by the technician");
    cancelled.calibrated = QDateTime(); // it ended before the date was sent: its start counts
    for (int i = 2; i < CalibrationRecord::PointCount; ++i)
        cancelled.points[size_t(i)].asFoundCapture = Capture::None;
    CalibrationRecord aborted
        = sampleRun("42", "VX4-2026-000004", 3, Outcome::Aborted, "The sender stopped answering");
    for (CalibrationPoint &p : aborted.points)
        p.asFoundCapture = Capture::None;
    const CalibrationRecord other = sampleRun("77", "VX4-2026-000002", 1);
    HistoryWindow w(seeded({ outside, other, aborted, cancelled }));

    QCOMPARE(w.senderList()->item(0)->text(), "42 (3 runs)");
    QCOMPARE(w.senderList()->item(1)->text(), "77 (1 run)");
    QCOMPARE(column(w.runTable(), 1),
             QStringList({ "VX4-2026-000004", "VX4-2026-000003", "VX4-2026-000001" }));
    QCOMPARE(column(w.runTable(), 2),
             QStringList({ "Aborted: The sender stopped answering",
                           "Cancelled: Cancelled by the technician", "Finished" }));
    QCOMPARE(column(w.runTable(), 4),
             QStringList({ "not captured", "within ±7.5 PSI, largest error +1.50 PSI",
                           "outside ±7.5 PSI, largest error -8.00 PSI" }));
    // Oldest first; a point counts only where it was captured.
    const qint64 first = outside.calibrated.toMSecsSinceEpoch();
    const qint64 second = cancelled.started.toMSecsSinceEpoch();
    QCOMPARE(seriesTexts(w.errorChart()),
             QStringList({ QString("0 PSI: %1/1.5 %2/1.5").arg(first).arg(second),
                           QString("750 PSI: %1/0.375 %2/0.375").arg(first).arg(second),
                           QString("1500 PSI: %1/-0.75").arg(first),
                           QString("2250 PSI: %1/-1.875").arg(first),
                           QString("3000 PSI: %1/-8").arg(first) }));

    w.senderList()->setCurrentRow(1);
    QCOMPARE(column(w.runTable(), 1), QStringList { "VX4-2026-000002" });
    QCOMPARE(seriesTexts(w.errorChart()).constFirst(),
             QString("0 PSI: %1/1.5").arg(other.calibrated.toMSecsSinceEpoch()));
}

void TestHistory::window_driftSinceTheLastFinishedRun_data()
{
    QTest::addColumn<QString>("outcomes"); ///< oldest first: Finished, Cancelled or Aborted
    QTest::addColumn<int>("asFoundCaptured"); ///< of the newest run, from the first point on
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("drift");
    // Newest as-found errors 1.75 - 1.125 i; as-left errors 0.5 - 0.125 i, the oldest's 1 more.
    const auto row
        = [](const char *name, const char *outcomes, int captured, const char *since,
             const char *drift) { QTest::newRow(name) << outcomes << captured << since << drift; };
    row("the run before finished", "FFF", 5, "since VX4-2026-000002",
        "+1.25 +0.25 -0.75 -1.75 -2.75");
    row("the run before cancelled: the one before that", "FCF", 5, "since VX4-2026-000001",
        "+0.25 -0.75 -1.75 -2.75 -3.75");
    row("this run cancelled after two as-found points", "FAC", 2, "since VX4-2026-000001",
        "+0.25 -0.75 — — —");
    row("no earlier finished run", "CAF", 5, "no earlier finished run", "— — — — —");
}

void TestHistory::window_driftSinceTheLastFinishedRun()
{
    QFETCH(QString, outcomes);
    QFETCH(int, asFoundCaptured);
    QFETCH(QString, since);
    QFETCH(QString, drift);
    const auto outcome = [&](int run) { return Outcome(QString("FCA").indexOf(outcomes.at(run))); };
    CalibrationRecord first = sampleRun("42", "VX4-2026-000001", 0, outcome(0));
    for (CalibrationPoint &p : first.points)
        p.asLeft += 1;
    CalibrationRecord last = sampleRun("42", "VX4-2026-000003", 2, outcome(2));
    for (int i = 0; i < CalibrationRecord::PointCount; ++i) {
        last.points[size_t(i)].asFound += 0.25;
        if (i >= asFoundCaptured)
            last.points[size_t(i)].asFoundCapture = Capture::None;
    }
    HistoryWindow w(seeded({ last, first, sampleRun("42", "VX4-2026-000002", 1, outcome(1)) }));
    QVERIFY2(w.driftHeading()->text().contains(since), qPrintable(w.driftHeading()->text()));
    QCOMPARE(column(w.driftTable(), 3).join(' '), drift);
}

void TestHistory::window_certificateWrittenAgain_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("hash"); ///< stored; "issued": the hash of the certificate's bytes
    QTest::addColumn<QString>("folder"); ///< where the file is chosen; empty: it cannot be
    QTest::addColumn<QString>("message");
    const auto row = [](const char *name, Outcome outcome, const QString &hash,
                        const QString &folder, const QString &message) {
        QTest::newRow(name) << int(outcome) << hash << folder << message;
    };
    row("as issued", Outcome::Finished, "issued", ".", "It matches the issued certificate");
    row("stored hash tampered with", Outcome::Finished, QString(64, 'f'), ".",
        "It does not match the issued certificate: SHA-256 [0-9a-f]{64}, issued f{64}\\. .*fonts");
    row("folder missing", Outcome::Finished, "issued", "missing/deeper",
        "^The certificate could not be written to");
    row("cancelled run", Outcome::Cancelled, "issued", "",
        "^Only a finished run has a certificate");
    row("no hash stored", Outcome::Finished, "", "", "^No issued certificate's SHA-256 is stored");
}

void TestHistory::window_certificateWrittenAgain()
{
    QFETCH(int, outcome);
    QFETCH(QString, hash);
    QFETCH(QString, folder);
    QFETCH(QString, message);
    CalibrationRecord run = sampleRun("42", "VX4-2026-000007", 0, Outcome(outcome));
    run.pdfSha256 = hash == "issued" ? Certificate::sha256(Certificate::pdf(run)) : hash;
    HistoryWindow w(seeded({ run }));
    const QString path = m_work.filePath(folder + QString("/%1.pdf").arg(m_count));
    w.setFileChooser([&](QWidget *, const QString &, const QString &) { return path; });
    QCOMPARE(w.writeCertificateButton()->isEnabled(), !folder.isEmpty());
    w.writeCertificateButton()->click(); // does nothing while disabled
    QVERIFY2(QRegularExpression(message).match(w.certificateCheck()->text()).hasMatch(),
             qPrintable(w.certificateCheck()->text()));
    if (folder == ".")
        QVERIFY(runProgram({ "pdftotext", path, "-" }).contains("VX4-2026-000007"));
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
