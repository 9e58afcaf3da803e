// The history as the settings name it, as vx4ctl lists it and the View menu shows it, and the
// History window on seeded histories: instruments and their linked serial texts, runs and their
// results, as-found errors, drift since the calibration the sender held, and certificates written
// again, void or replaced.
#include "calibrationhistory.h"
#include "certificate.h"
#include "historytestsupport.h"
#include "historywindow.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "settingskeys.h"

#include <QtCharts>
#include <QtTest>
#include <QtWidgets>

namespace {

using Outcome = CalibrationRecord::Outcome;
enum Setup { NoHistory, TwoRuns, NotADatabase, Recovered, PgDown, Linked, Hostile };

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

} // namespace

class TestHistoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void historyOfTheSettings_vx4ctlAndTheViewMenuShowIt_data();
    void historyOfTheSettings_vx4ctlAndTheViewMenuShowIt();
    void window_instrumentsTheirRunsAndAsFoundErrors();
    void window_driftSinceTheCalibrationTheSenderHeld_data();
    void window_driftSinceTheCalibrationTheSenderHeld();
    void window_certificateWrittenAgain_data();
    void window_certificateWrittenAgain();

private:
    /// A new SQLite history holding `runs`, and the window on it once it has read it.
    HistoryLocation seeded(const QList<CalibrationRecord> &runs);

    QTemporaryDir m_work;
    int m_count = 0;
};

void TestHistoryWindow::initTestCase()
{
    QVERIFY(m_work.isValid());
    // Own folders even when run outside ctest: nothing here touches the user's settings or data.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_work.filePath("xdg-data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_work.filePath("xdg-config")));
}

HistoryLocation TestHistoryWindow::seeded(const QList<CalibrationRecord> &runs)
{
    HistoryLocation l;
    const QString dir = m_work.filePath(QString::number(++m_count));
    l.sqliteFile = dir + "/history.sqlite";
    l.pendingFile = dir + "/pending.jsonl";
    l.blockFile = dir + "/block";
    CalibrationHistory history(l);
    for (const CalibrationRecord &r : runs)
        history.store(r);
    return l;
}

void TestHistoryWindow::historyOfTheSettings_vx4ctlAndTheViewMenuShowIt_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("arguments"); ///< vx4ctl's
    QTest::addColumn<QString>("vx4ctl"); ///< its "exit code|output|errors"
    QTest::addColumn<QString>("window"); ///< what the window says of the history
    QTest::addColumn<QString>("senders"); ///< its list of senders, '|' between
    const QString header = "CERTIFICATE +SERIAL +STARTED +OUTCOME +TECHNICIAN\n";
    const QString runLine = "VX4-\\d{4}-00000%1 +%2 +2026-03-0%3 09:15 UTC +%4 +Åse Ødegård\n";
    QTest::newRow("no history yet")
        << int(NoHistory) << "history"
        << "^0\\|\\|$"
        << "^No calibration run is stored in the SQLite file .*history.sqlite yet.$"
        << "";
    QTest::newRow("two runs") << int(TwoRuns) << "history"
                              << "^0\\|" + header
            + runLine.arg(2).arg(77).arg(5).arg("cancelled \\(Cancelled by the technician\\)")
            + runLine.arg(1).arg(42).arg(4).arg("finished \\(passed\\)") + "\\|$"
                              << "^$"
                              << "42 (1 run)|77 (1 run)";
    QTest::newRow("not a database, two runs waiting")
        << int(NotADatabase) << "history"
        << "^1\\|\\|vx4ctl: history: the SQLite file .* cannot be opened: [^\n]+\n$"
        << "^The calibration history cannot be read: the SQLite file .* cannot be opened: .+\n"
           "2 runs are waiting in \".*pending-history.jsonl\": stored once the database"
        << "";
    // The window stores the waiting runs once the database is back; vx4ctl only reads.
    QTest::newRow("database back, two runs waiting") << int(Recovered) << "history"
                                                     << "^0\\|\\|$"
                                                     << "^$"
                                                     << "42 (1 run)|77 (1 run)";
    QTest::newRow("postgresql: server down")
        << int(PgDown) << "history"
        << "^1\\|\\|vx4ctl: history: the PostgreSQL database \"\\w+\" on .* cannot be opened: "
           "[^\n]+\n$"
        << "^The calibration history cannot be read: the PostgreSQL database .* cannot be opened"
        << "";
    // A firmware update from 4.x to 5.x links the texts: one instrument, one history. The bare
    // number lists each text of that number on its own.
    const QString linked = "OVX5-0042 (was OVX4-0042) (2 runs)|OVX5-0099 (1 run)";
    QTest::newRow("linked: the whole text")
        << int(Linked) << "history --serial OVX5-0042"
        << "^0\\|" + header + runLine.arg(2).arg("OVX5-0042").arg(5).arg("finished \\(passed\\)")
            + runLine.arg(1).arg("OVX4-0042").arg(4).arg("finished \\(passed\\)") + "\\|$"
        << "^$" << linked;
    QTest::newRow("linked: the bare number")
        << int(Linked) << "history --serial 42"
        << "^0\\|" + header + runLine.arg(1).arg("OVX4-0042").arg(4).arg(".*")
            + runLine.arg(2).arg("OVX5-0042").arg(5).arg(".*") + "\\|$"
        << "^$" << linked;
    QTest::newRow("a field of a megabyte")
        << int(Hostile) << "--json history"
        << "^1\\|\\|\\{\"error\":\"[^\"]+ cannot be read: run \\d+ has a \\\\\"technician\\\\\" "
           "longer than 2000 characters\""
        << "^The runs of sender 42 cannot be read: .* longer than 2000 characters"
        << "42 (1 run)|77 (1 run)";
    QTest::newRow("policy set")
        << int(NoHistory) << "policy set tolerance=7.5 rule=guarded procedure=P-17 by=Ann"
        << "^0\\|±7.5 PSI, guarded acceptance, procedure P-17\nset by Ann on \\d{4}-\\d\\d-\\d\\d "
           "\\d\\d:\\d\\d UTC\n\\|$"
        << "^No calibration run is stored"
        << "";
}

void TestHistoryWindow::historyOfTheSettings_vx4ctlAndTheViewMenuShowIt()
{
    QFETCH(int, setup);
    QFETCH(QString, arguments);
    QFETCH(QString, vx4ctl);
    QFETCH(QString, window);
    QFETCH(QString, senders);
    QVERIFY(QDir(HistoryLocation::dataFolder()).removeRecursively());
    namespace K = SettingsStore::HistoryGroup;
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.remove(K::Name); // each row names its own history
    if (setup == PgDown) { // no server answers on this port
        settings.beginGroup(K::Name);
        settings.setValue(K::Backend, "postgresql");
        settings.setValue(K::Host, m_work.path());
        settings.setValue(K::Port, PgServer::Port + 1);
        settings.endGroup();
    }
    settings.sync();
    const HistoryLocation l = HistoryLocation::fromSettings();
    if (setup == NotADatabase || setup == Recovered) {
        QFile file(l.sqliteFile);
        QVERIFY(QDir().mkpath(HistoryLocation::dataFolder()) && file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    QList<CalibrationRecord> runs { sampleRun("42", thisYear(1), 0),
                                    sampleRun("77", thisYear(2), 1, Outcome::Cancelled,
                                              "Cancelled by the technician") };
    if (setup == Linked)
        runs = { sampleRun("OVX4-0042", thisYear(1), 0), sampleRun("OVX5-0042", thisYear(2), 1),
                 sampleRun("OVX5-0099", thisYear(3), 1) };
    for (const CalibrationRecord &r : runs) {
        // Stored, or waiting in the pending file when the database is no database.
        if (setup != NoHistory && setup != PgDown)
            QVERIFY(CalibrationHistory().store(r).pending
                    == (setup == NotADatabase || setup == Recovered));
    }
    QVERIFY(setup != Linked
            || CalibrationHistory().linkSenders("OVX4-0042", "OVX5-0042").error.isEmpty());
    if (setup == Hostile)
        sql(l, "UPDATE calibration_runs SET technician = '" + QString(1 << 20, 'x') + "'");
    QVERIFY(setup != Recovered || QFile::remove(l.sqliteFile));
    const QString ctl = runProgram(QStringList { VX4CTL_PATH } + arguments.split(' '));
    QVERIFY2(QRegularExpression(vx4ctl).match(ctl).hasMatch(), qPrintable(ctl));

    MainWindow main(QStringList {});
    QAction *action = main.form()->actionCalibrationHistory;
    QVERIFY(main.form()->menuOptions->actions().contains(action));
    action->trigger();
    HistoryWindow *w = main.calibrationHistoryWindow();
    QVERIFY(w && w->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!w->isReading(), 20000);
    const QString state = w->databaseState()->text();
    QVERIFY2(QRegularExpression(window).match(state).hasMatch(), qPrintable(state));
    QStringList shown;
    for (int i = 0; i < w->senderList()->count(); ++i)
        shown << w->senderList()->item(i)->text();
    QCOMPARE(shown.join('|'), senders);
    QCOMPARE(CalibrationHistory().pendingCount(), setup == NotADatabase ? 2 : 0);
    // Neither leaves an empty database behind where none was written.
    const bool written = setup != NoHistory && setup != PgDown;
    QCOMPARE(QFile::exists(l.sqliteFile), written || arguments.startsWith("policy"));
}

void TestHistoryWindow::window_instrumentsTheirRunsAndAsFoundErrors()
{
    CalibrationRecord outside = sampleRun("42", "VX4-2026-000001", 0);
    outside.points[4].asFound -= 5;
    outside.points[4].asLeft += 9; // outside the tolerance of 7.5 PSI
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
    QTRY_VERIFY(!w.isReading());

    QCOMPARE(w.senderList()->item(0)->text(), "42 (3 runs)");
    QCOMPARE(w.senderList()->item(1)->text(), "77 (1 run)");
    QCOMPARE(
        column(w.runTable(), 1),
        QStringList({ "VX4-2026-000004 (void)", "VX4-2026-000003 (void)", "VX4-2026-000001" }));
    QCOMPARE(column(w.runTable(), 2),
             QStringList({ "Aborted: The sender stopped answering",
                           "Cancelled: Cancelled by the technician", "Finished" }));
    QCOMPARE(column(w.runTable(), 3),
             QStringList({ "not verified", "not verified", "OUT OF TOLERANCE" }));
    QCOMPARE(column(w.runTable(), 5),
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
    QTRY_COMPARE(column(w.runTable(), 1), QStringList { "VX4-2026-000002" });
    QCOMPARE(seriesTexts(w.errorChart()).constFirst(),
             QString("0 PSI: %1/1.5").arg(other.calibrated.toMSecsSinceEpoch()));
}

void TestHistoryWindow::window_driftSinceTheCalibrationTheSenderHeld_data()
{
    QTest::addColumn<QString>("runs"); ///< oldest first: F finished, C cancelled before its
                                       ///< calibration was saved, S cancelled after
    QTest::addColumn<int>("asFoundCaptured"); ///< of the newest run, from the first point on
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("drift");
    // Newest as-found errors 1.75 - 1.125 i; as-left errors 0.5 - 0.125 i, the oldest's 1 more; a
    // cancelled run verified its first two points only.
    const auto row
        = [](const char *name, const char *runs, int captured, const char *since,
             const char *drift) { QTest::newRow(name) << runs << captured << since << drift; };
    row("the run before finished", "FFF", 5, "since VX4-2026-000002",
        "+1.25 +0.25 -0.75 -1.75 -2.75");
    row("the run before cancelled before saving: the one before that", "FCF", 5,
        "since VX4-2026-000001", "+0.25 -0.75 -1.75 -2.75 -3.75");
    row("the run before cancelled after saving: that one", "FSF", 5, "since VX4-2026-000002",
        "+1.25 +0.25 — — —");
    row("this run cancelled after two as-found points", "FCC", 2, "since VX4-2026-000001",
        "+0.25 -0.75 — — —");
    row("no calibration the sender took", "CCF", 5, "no earlier run whose calibration",
        "— — — — —");
}

void TestHistoryWindow::window_driftSinceTheCalibrationTheSenderHeld()
{
    QFETCH(QString, runs);
    QFETCH(int, asFoundCaptured);
    QFETCH(QString, since);
    QFETCH(QString, drift);
    QList<CalibrationRecord> stored;
    for (int i = 0; i < 3; ++i) {
        const QChar kind = runs.at(i);
        stored << sampleRun("42", QString("VX4-2026-00000%1").arg(i + 1), i,
                            kind == 'F' ? Outcome::Finished : Outcome::Cancelled);
        stored.last().calibrationSaved = kind != 'C';
    }
    for (CalibrationPoint &p : stored.first().points)
        p.asLeft += 1;
    for (int i = 0; i < CalibrationRecord::PointCount; ++i) {
        stored.last().points[size_t(i)].asFound += 0.25;
        if (i >= asFoundCaptured)
            stored.last().points[size_t(i)].asFoundCapture = Capture::None;
    }
    HistoryWindow w(seeded(stored));
    QTRY_VERIFY(!w.isReading());
    QVERIFY2(w.driftHeading()->text().contains(since), qPrintable(w.driftHeading()->text()));
    QCOMPARE(column(w.driftTable(), 3).join(' '), drift);
}

void TestHistoryWindow::window_certificateWrittenAgain_data()
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
    row("printed, then cancelled", Outcome::Cancelled, "issued", "",
        "^Certificate VX4-2026-000007 was written \\(SHA-256 [0-9a-f]{64}\\), then the run was "
        "cancelled: it is void\\.\nCertificate VX4-2026-000006 \\(SHA-256 e{64}\\) was written for "
        "this run before its figures changed, and is replaced\\.$");
    row("no hash stored", Outcome::Finished, "", "", "^No issued certificate's SHA-256 is stored");
}

void TestHistoryWindow::window_certificateWrittenAgain()
{
    QFETCH(int, outcome);
    QFETCH(QString, hash);
    QFETCH(QString, folder);
    QFETCH(QString, message);
    CalibrationRecord run = sampleRun("42", "VX4-2026-000007", 0, Outcome(outcome));
    run.pdfSha256 = hash == "issued" ? Certificate::sha256(Certificate::pdf(run)) : hash;
    if (outcome != int(Outcome::Finished))
        run.replaced = { { "VX4-2026-000006", QString(64, 'e') } };
    HistoryWindow w(seeded({ run }));
    QTRY_VERIFY(!w.isReading());
    const QString path = m_work.filePath(folder + QString("/%1.pdf").arg(m_count));
    w.setFileChooser([&](QWidget *, const QString &, const QString &) { return path; });
    QCOMPARE(w.writeCertificateButton()->isEnabled(), !folder.isEmpty());
    w.writeCertificateButton()->click(); // does nothing while disabled
    QVERIFY2(QRegularExpression(message).match(w.certificateCheck()->text()).hasMatch(),
             qPrintable(w.certificateCheck()->text()));
    if (folder == ".")
        QVERIFY(runProgram({ "pdftotext", path, "-" }).contains("VX4-2026-000007"));
}

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
