// The calibration history against SQLite and a throwaway PostgreSQL server: runs stored and read
// back, certificate numbers drawn by two programs at once and without the database, the schema's
// upgrade, runs pending while the database cannot be written, linked serial texts, the lab's
// policy, reads of a hostile history, and a worker whose job never returns.
#include "calibrationhistory.h"
#include "calibrationtrend.h"
#include "historyservice.h"
#include "historytestsupport.h"

#include <QtTest>

namespace {
using Outcome = CalibrationRecord::Outcome;
enum Fault { Locked, PointRefused, ServerDown };
} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void storedRunsAndTheirNumbers_data() { addBackends(); }
    void storedRunsAndTheirNumbers();
    void numbersDrawnAtOnceAndWithoutTheDatabase_data() { addBackends(); }
    void numbersDrawnAtOnceAndWithoutTheDatabase();
    void schemaUpgrade_data() { addBackends(); }
    void schemaUpgrade();
    void pendingUntilBack_data();
    void pendingUntilBack();
    void pendingLineAppendedDuringAFlush_stays();
    void linkedSerials_oneInstrumentOneHistory_data() { addBackends(); }
    void linkedSerials_oneInstrumentOneHistory();
    void policy_oneCurrentWithWhoAndWhen_data() { addBackends(); }
    void policy_oneCurrentWithWhoAndWhen();
    void hostileHistory_isRefusedWithTheReason_data() { addBackends(); }
    void hostileHistory_isRefusedWithTheReason();
    void workerWhoseJobNeverReturns_isLeftBehind();

private:
    void addBackends();
    /// A new empty history of the backend of its own; false when that backend cannot run here.
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
        *l = HistoryLocation();
        l->sqliteFile = dir + "/db/history.sqlite";
    }
    l->pendingFile = dir + "/pending.jsonl";
    l->blockFile = dir + "/block";
    l->bench = QString("bench %1").arg(m_count);
    l->busyTimeoutMs = 50;
    return true;
}

#define FRESH(backend, location)                                                                   \
    if (!fresh(backend, location))                                                                 \
    QSKIP(qPrintable(m_pgMissing))

void TestHistory::storedRunsAndTheirNumbers()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    CalibrationHistory h(l);
    QString error;
    QCOMPARE(h.drawCertificateNumber(&error), thisYear(1));
    QCOMPARE(h.drawCertificateNumber(&error), thisYear(2));
    // Stored out of time order: the list is by start time, newest first. A run that ended
    // before its number was drawn gets one, void.
    QList<CalibrationRecord> stored { sampleRun("42", thisYear(1), 2),
                                      sampleRun("42", thisYear(2), 0, Outcome::Cancelled, "C"),
                                      sampleRun("77", "", 1, Outcome::Aborted, "A") };
    stored[1].replaced = { { "VX4-2025-000099", QString(64, 'e') } };
    for (CalibrationRecord &r : stored) {
        const auto result = h.store(r);
        QVERIFY2(result.id > 0 && !result.pending && result.error.isEmpty(),
                 qPrintable(result.error));
        r.id = result.id;
        r.certificateNumber = result.certificateNumber;
    }
    QCOMPARE(stored[2].certificateNumber, thisYear(3));
    QCOMPARE(json(h.runs(QStringList(), &error).value_or(QList<CalibrationRecord>())),
             json({ stored[0], stored[2], stored[1] }));
    QCOMPARE(json(h.runs("42", &error).value_or(QList<CalibrationRecord>())),
             json({ stored[0], stored[1] }));
    // Every number drawn has its row: a gap is always explained.
    QCOMPARE(sql(l, "SELECT state FROM certificate_numbers ORDER BY sequence").join(' '),
             "issued void void" + QString(" reserved").repeated(17) + " replaced");
    QCOMPARE(sql(l, "SELECT result FROM calibration_runs ORDER BY id"),
             QStringList({ "passed", "not taken", "not taken" }));

    // The same run stored again stays one row; another run of the sender with its number is
    // refused.
    QCOMPARE(h.store(stored[0]).id, stored[0].id);
    const auto clash = h.store(sampleRun("42", thisYear(1), 1));
    QVERIFY2(clash.id == 0 && clash.error.contains("already stored for another run"),
             qPrintable(clash.error));
    const auto unnumbered = h.store(sampleRun("77", "", 1));
    QVERIFY(unnumbered.id == 0 && !unnumbered.pending && unnumbered.error.contains("certificate"));
}

void TestHistory::numbersDrawnAtOnceAndWithoutTheDatabase()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    QVERIFY(CalibrationHistory(l).open(nullptr));
    // SQLite serves one bench: its programs share the block; PostgreSQL serves several.
    HistoryLocation other = l;
    if (backend == "postgresql") {
        other.blockFile += "-other";
        other.bench += " other";
    }
    QProcess first;
    QProcess second;
    first.start(HISTORYHELPER_PATH, QStringList { "draw", "15" } + helperArguments(l));
    second.start(HISTORYHELPER_PATH, QStringList { "draw", "15" } + helperArguments(other));
    QVERIFY(first.waitForFinished(60000) && second.waitForFinished(60000));
    QStringList numbers
        = QString::fromUtf8(first.readAllStandardOutput() + '\n' + second.readAllStandardOutput())
              .split('\n', Qt::SkipEmptyParts);
    QCOMPARE(numbers.size(), 30);
    numbers.removeDuplicates();
    QCOMPARE(numbers.size(), 30);
    QCOMPARE(sql(l, "SELECT COUNT(*) FROM certificate_numbers WHERE state = 'drawn'"),
             QStringList { "30" });

    // Without the database: this bench's reserved numbers, then none, and why.
    HistoryLocation down = l;
    down.sqliteFile = m_work.filePath("no folder here/x/history.sqlite");
    down.port += 1;
    QVERIFY(QFile(m_work.filePath("no folder here")).open(QIODevice::WriteOnly));
    CalibrationHistory offline(down);
    QString error;
    const QStringList reserved = sql(l,
                                     "SELECT sequence FROM certificate_numbers WHERE state = "
                                     "'reserved' AND bench = '"
                                         + l.bench + "' ORDER BY sequence");
    QStringList drawn;
    for (QString n;
         drawn.size() <= reserved.size() && !(n = offline.drawCertificateNumber(&error)).isEmpty();)
        drawn << QString::number(CalibrationHistory::sequenceOf(n));
    QCOMPARE(drawn, reserved);
    QVERIFY2(error.contains("this bench holds no numbers reserved while it could be reached"),
             qPrintable(error));
}

void TestHistory::schemaUpgrade()
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
           "INSERT INTO calibration_points VALUES (1, 3, 2250, 2250.5, 2261, 2249)" })
        sql(l, statement);
    CalibrationHistory history(l);
    QVERIFY2(history.open(&error), qPrintable(error));
    // Opened again: the upgrade, once recorded, is not run a second time.
    QVERIFY2(CalibrationHistory(l).open(&error), qPrintable(error));
    const auto upgraded = history.runs(QStringList(), &error);
    QVERIFY2(upgraded && upgraded->size() == 1, qPrintable(error));
    const CalibrationRecord &run = upgraded->first();
    QCOMPARE(run.points[3].asLeftReference, 2250.5);
    QVERIFY(run.points[3].asFoundCapture == Capture::Stable && run.calibrationSaved);
    QCOMPARE(sql(l, "SELECT result || ' ' || as_found_result FROM calibration_runs"),
             QStringList { "not taken failed" });
    // Its number drawn by the old rule gets its row, and numbers go on past it.
    QCOMPARE(sql(l, "SELECT state FROM certificate_numbers"), QStringList { "issued" });
    QCOMPARE(history.drawCertificateNumber(&error), thisYear(10));

    sql(l, "UPDATE schema_version SET version = 7");
    const auto refused = CalibrationHistory(l).store(sampleRun("42", thisYear(10), 0));
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
    QString error;
    // A number drawn while the database answered reserves this bench's block.
    QCOMPARE(CalibrationHistory(good).drawCertificateNumber(&error), thisYear(1));
    // A refused point comes after its run's row is written: nothing of the run may stay.
    if (fault == Locked || fault == PointRefused)
        QCOMPARE(sql(good,
                     fault == Locked ? "BEGIN EXCLUSIVE"
                                     : "CREATE TRIGGER refuse BEFORE INSERT ON calibration_points "
                                       "BEGIN SELECT RAISE(ABORT, 'full'); END"),
                 QStringList());

    CalibrationHistory down(bad);
    const CalibrationRecord run = sampleRun("42", down.drawCertificateNumber(&error), 0);
    QCOMPARE(run.certificateNumber, thisYear(2));
    const auto result = down.store(run);
    QVERIFY2(result.pending && result.id == 0 && result.error.contains(good.pendingFile),
             qPrintable(result.error));
    QVERIFY(down.flushPending(&error) <= 0);
    // A torn last line (a crash, a full disk) is kept apart from the run appended after it.
    QFile pending(good.pendingFile);
    QVERIFY(pending.open(QIODevice::Append) && pending.write("{\"certificate\":\"VX4-") > 0);
    pending.close();
    const CalibrationRecord second = sampleRun("77", down.drawCertificateNumber(&error), 1);
    QVERIFY(down.store(second).pending);
    QCOMPARE(down.pendingCount(), 3);

    // The database is back: the next run stored takes the waiting ones along.
    if (fault == Locked || fault == PointRefused)
        QCOMPARE(sql(good, fault == Locked ? "COMMIT" : "DROP TRIGGER refuse"), QStringList());
    CalibrationHistory back(good);
    QVERIFY(back.store(sampleRun("90", back.drawCertificateNumber(&error), 2)).id > 0);
    QCOMPARE(back.pendingCount(), 1);
    // A line that outlived its commit (a crash in between) leaves the file without a second row;
    // the line that cannot be read stays there for someone to look at.
    QVERIFY(pending.open(QIODevice::Append)
            && pending.write(QJsonDocument(run.toJson()).toJson(QJsonDocument::Compact)) > 0);
    pending.close();
    QCOMPARE(back.flushPending(&error), 1);
    QVERIFY2(error.startsWith("pending line 1: ") && back.pendingCount() == 1, qPrintable(error));
    const auto runs = back.runs(QStringList { "42", "77" }, &error);
    QVERIFY2(runs && runs->size() == 2, qPrintable(error));
    CalibrationRecord expected = run;
    expected.id = runs->at(1).id;
    QCOMPARE(runs->at(1).toJson(), expected.toJson());
}

// A flush reads the file, stores its lines while the database takes its time, and rewrites it:
// a run another program appended meanwhile must still be there.
void TestHistory::pendingLineAppendedDuringAFlush_stays()
{
    HistoryLocation good;
    FRESH("postgresql", &good);
    HistoryLocation down = good;
    down.port += 1;
    QString error;
    CalibrationHistory writer(down);
    QVERIFY(CalibrationHistory(good).open(&error));
    QVERIFY(writer.store(sampleRun("42", "VX4-2026-000001", 0)).pending);
    const HistoryLocation admin = m_pg.location(good.database);
    sql(admin, "BEGIN");
    sql(admin, "LOCK TABLE calibration_runs IN EXCLUSIVE MODE");
    QProcess flusher;
    flusher.start(HISTORYHELPER_PATH, QStringList { "flush" } + helperArguments(good));
    // The flusher has read the file and waits for the table.
    // Asked outside the transaction, which would see the activity as it was when it began.
    QTRY_COMPARE_WITH_TIMEOUT(sql(m_pg.location("postgres"),
                                  "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = "
                                  "'Lock' AND datname = '"
                                      + good.database + "'"),
                              QStringList { "1" }, 30000);
    QVERIFY(writer.store(sampleRun("77", "VX4-2026-000002", 1)).pending);
    sql(admin, "COMMIT");
    QVERIFY(flusher.waitForFinished(60000));
    QCOMPARE(flusher.readAllStandardOutput(), QByteArray("stored 1: \n"));
    QCOMPARE(writer.pendingCount(), 1);
    QCOMPARE(CalibrationHistory(good).flushPending(&error), 1);
}

void TestHistory::linkedSerials_oneInstrumentOneHistory()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    HistoryLocation down = l;
    down.sqliteFile = m_work.filePath("missing/dir.sqlite/x");
    down.port += 1;
    QVERIFY(QDir().mkpath(down.sqliteFile)); // a folder where the file belongs
    CalibrationHistory h(l);
    // Saved, then cancelled; the firmware update from 4.x to 5.x is recorded while the database
    // is down, and stored with the next run.
    CalibrationRecord before = sampleRun("OVX4-0042", "VX4-2026-000001", 0, Outcome::Cancelled);
    before.calibrationSaved = true;
    QVERIFY(h.store(before).id > 0);
    QVERIFY(h.store(sampleRun("OVX4-0099", "VX4-2026-000002", 0)).id > 0);
    QVERIFY(CalibrationHistory(down).linkSenders("OVX4-0042", "OVX5-0042").pending);
    QVERIFY(h.store(sampleRun("OVX5-0042", "VX4-2026-000003", 2)).id > 0);
    QString error;
    QCOMPARE(h.instrumentSerials("OVX5-0042", &error).value_or(QStringList()),
             QStringList({ "OVX5-0042", "OVX4-0042" }));
    const auto runs
        = h.runs(h.instrumentSerials("OVX4-0042", &error).value_or(QStringList()), &error);
    QVERIFY2(runs && runs->size() == 2, qPrintable(error));
    // The drift follows the link to the calibration the sender held.
    const CalibrationRecord *baseline = CalibrationTrend::baseline(*runs, 0);
    QVERIFY(baseline && baseline->certificateNumber == "VX4-2026-000001");
}

void TestHistory::policy_oneCurrentWithWhoAndWhen()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    CalibrationHistory h(l);
    QString error;
    bool stored = true;
    QVERIFY(h.policy(&stored, &error) && !stored);
    LabPolicy p;
    p.tolerancePsi = 7.5;
    p.rule = DecisionRule::Guarded;
    p.changedBy = "Ann";
    p.changed = QDateTime(QDate(2026, 5, 1), QTime(8, 0), Qt::UTC);
    QVERIFY(!h.setPolicy(p, &error) && error.contains("needs an identification"));
    p.procedureId = "CAL-7";
    QVERIFY2(h.setPolicy(p, &error), qPrintable(error));
    p.tolerancePsi = 5;
    QVERIFY2(h.setPolicy(p, &error), qPrintable(error));
    const auto current = h.policy(&stored, &error);
    QVERIFY(current && stored);
    QCOMPARE(current->summary() + ' ' + current->changedBy + ' '
                 + current->changed.toString(Qt::ISODate),
             "±5 PSI, guarded acceptance, procedure CAL-7 Ann 2026-05-01T08:00:00Z");
}

void TestHistory::hostileHistory_isRefusedWithTheReason()
{
    QFETCH(QString, backend);
    HistoryLocation l;
    FRESH(backend, &l);
    l.maxRuns = 2;
    CalibrationHistory h(l);
    QString error;
    for (int day = 0; day < 2; ++day)
        QVERIFY(h.store(sampleRun("42", thisYear(day + 1), day)).id > 0);
    QVERIFY2(h.runs(QStringList(), &error), qPrintable(error));
    QVERIFY(h.store(sampleRun("77", thisYear(3), 2)).id > 0);
    QVERIFY(!h.runs(QStringList(), &error) && error.contains("more than 2 runs"));
    // One run's field of a megabyte: refused before it is read whole.
    sql(l,
        "UPDATE calibration_runs SET technician = '" + QString(1 << 20, 'x')
            + "' WHERE "
              "sender_serial = '77'");
    QVERIFY(h.runs("42", &error));
    QVERIFY(!h.runs("77", &error));
    QVERIFY2(error.contains("has a \"technician\" longer than 2000 characters"), qPrintable(error));
}

void TestHistory::workerWhoseJobNeverReturns_isLeftBehind()
{
    HistoryLocation l;
    fresh("sqlite", &l);
    QMutex stuck;
    stuck.lock();
    bool delivered = false;
    {
        HistoryService service(l);
        service.run<int>(
            nullptr,
            [&](CalibrationHistory &) {
                QMutexLocker wait(&stuck);
                return 1;
            },
            [&](const int &) { delivered = true; });
        QVERIFY(service.busy());
    } // gone at once, although its job still waits
    QCOMPARE(HistoryService::workersLeftBehind(), 1);
    stuck.unlock();
    QTRY_COMPARE(HistoryService::workersLeftBehind(), 0);
    QVERIFY(!delivered);
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
