// The calibration history with 10,000 stored runs in SQLite (400 senders, 25 runs each): the
// History window opened from the main window's menu until it is painted, a run stored as the
// wizard stores it (a history opened for it) and by a history kept open, and, for comparison,
// every run read at once. Offscreen, with throw-away settings and data folders.
//   bench_history [OPENS]          default 15 opens of the window
#include "calibrationhistory.h"
#include "historywindow.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "scratchhome.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Senders = 400;
constexpr int RunsPerSender = 25;

CalibrationRecord sampleRun(int sender, int run, int sequence)
{
    CalibrationRecord r;
    r.certificateNumber = QString::asprintf("VX4-2026-%06d", sequence);
    r.senderSerial = QString::number(10000 + sender);
    r.firmware = QStringLiteral("2.14");
    r.started
        = QDateTime(QDate(2001, 1, 1).addDays(run * 200 + sender % 100), QTime(9, 0), Qt::UTC);
    r.finished = r.started.addSecs(1800);
    r.calibrated = r.finished;
    r.outcome = run % 7 == 3 ? CalibrationRecord::Outcome::Cancelled
                             : CalibrationRecord::Outcome::Finished;
    r.technician = QStringLiteral("A. Technician");
    r.referenceCalibrator = QStringLiteral("Fluke 700G31");
    r.referenceDueDate = QDate(2030, 1, 1);
    r.nextCalibrationDate = r.calibrated.date().addYears(1);
    r.pdfSha256 = QString(64, QLatin1Char('a'));
    for (int i = 0; i < CalibrationRecord::PointCount; ++i) {
        const double set = 750.0 * i;
        r.points[size_t(i)] = { set,
                                set,
                                set + (run % 5) * 0.4 - 0.8,
                                set,
                                set + 0.125,
                                Capture::Stable,
                                Capture::Stable };
    }
    return r;
}

/// Fills the history in one transaction: storing 10,000 runs one by one would time the disk.
bool seed(const HistoryLocation &location)
{
    QString error;
    if (!CalibrationHistory(location).open(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "seed");
        db.setDatabaseName(location.sqliteFile);
        ok = db.open() && db.transaction();
        QSqlQuery run(db), point(db);
        run.prepare(QStringLiteral(
            "INSERT INTO calibration_runs (certificate_number, certificate_sequence, "
            "sender_serial, firmware, started_utc, finished_utc, outcome, reason, technician, "
            "reference_calibrator, reference_due, tolerance_psi, next_calibration, pdf_sha256, "
            "calibrated, company, calibrator_serial, calibrator_certificate) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, '', ?, ?, ?, 10, ?, ?, ?, '', '', '')"));
        point.prepare(QStringLiteral(
            "INSERT INTO calibration_points (run_id, point_index, set_point, reference, as_found, "
            "as_left_reference, as_left, as_found_capture, as_left_capture) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, 'stable', 'stable')"));
        int sequence = 0;
        for (int s = 0; ok && s < Senders; ++s) {
            for (int n = 0; ok && n < RunsPerSender; ++n) {
                const CalibrationRecord r = sampleRun(s, n, ++sequence);
                const auto iso = [](const QDateTime &t) { return t.toString(Qt::ISODateWithMs); };
                for (const QVariant &v : QVariantList {
                         r.certificateNumber, sequence, r.senderSerial, r.firmware, iso(r.started),
                         iso(r.finished), CalibrationRecord::outcomeText(r.outcome), r.technician,
                         r.referenceCalibrator, r.referenceDueDate.toString(Qt::ISODate),
                         r.nextCalibrationDate.toString(Qt::ISODate), r.pdfSha256,
                         r.calibrated.toString(Qt::ISODate) })
                    run.addBindValue(v);
                ok = run.exec();
                const QVariant id = run.lastInsertId();
                for (int i = 0; ok && i < CalibrationRecord::PointCount; ++i) {
                    const CalibrationPoint &p = r.points[size_t(i)];
                    for (const QVariant &v :
                         QVariantList { id, i, p.setPoint, p.asFoundReference, p.asFound,
                                        p.asLeftReference, p.asLeft })
                        point.addBindValue(v);
                    ok = point.exec();
                }
            }
        }
        ok = ok && db.commit();
        if (!ok)
            std::fprintf(stderr, "seeding failed: %s %s\n", qPrintable(run.lastError().text()),
                         qPrintable(point.lastError().text()));
    }
    QSqlDatabase::removeDatabase("seed");
    return ok;
}

void report(const char *what, QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-52s median %7.1f ms  min %7.1f ms  max %7.1f ms  (%d)\n", what,
                ms.at(ms.size() / 2), ms.first(), ms.last(), int(ms.size()));
}

} // namespace

int main(int argc, char **argv)
{
    const ScratchHome scratch;
    qputenv("VX4_EXTRA_PORTS", "");
    QApplication app(argc, argv);
    const int opens = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 15;

    const HistoryLocation location = HistoryLocation::fromSettings();
    if (!seed(location))
        return 1;
    std::printf("%d stored runs: %d senders, %d runs each\n", Senders * RunsPerSender, Senders,
                RunsPerSender);

    MainWindow main(QStringList {});
    if (!QTest::qWaitForWindowExposed(&main))
        return 1;
    QList<double> open;
    double firstOpen = 0;
    for (int i = 0; i < opens; ++i) {
        QElapsedTimer clock;
        clock.start();
        main.form()->actionCalibrationHistory->trigger();
        HistoryWindow *window = main.calibrationHistoryWindow();
        if (!window || !QTest::qWaitForWindowExposed(window))
            return 1;
        // Read off the window's thread: done when the chosen sender's runs are shown.
        if (!QTest::qWaitFor([&] { return !window->isReading(); }, 10000))
            return 1;
        // Painted twice: the chart lays itself out in posted events after the first paint.
        window->repaint();
        QCoreApplication::processEvents();
        window->repaint();
        const double ms = clock.nsecsElapsed() / 1e6;
        if (window->runTable()->rowCount() != RunsPerSender) {
            std::fprintf(stderr, "the window shows %d runs\n", window->runTable()->rowCount());
            return 1;
        }
        if (i == 0)
            firstOpen = ms;
        else
            open.append(ms);
        window->close();
        if (!QTest::qWaitFor([&] { return !main.calibrationHistoryWindow(); }, 5000))
            return 1;
    }
    std::printf("history window, first open in the process: %.1f ms\n", firstOpen);
    if (!open.isEmpty())
        report("history window, menu to painted, later opens", open);

    QList<double> fresh, kept;
    CalibrationHistory keptHistory(location);
    int sequence = Senders * RunsPerSender;
    for (int i = 0; i < 30; ++i) {
        for (QList<double> *list : { &fresh, &kept }) {
            const CalibrationRecord r = sampleRun(i, RunsPerSender + 1, ++sequence);
            QElapsedTimer clock;
            clock.start();
            const auto result
                = list == &fresh ? CalibrationHistory(location).store(r) : keptHistory.store(r);
            list->append(clock.nsecsElapsed() / 1e6);
            if (result.id <= 0) {
                std::fprintf(stderr, "not stored: %s\n", qPrintable(result.error));
                return 1;
            }
        }
    }
    report("run stored, history opened for it", fresh);
    report("run stored, history kept open", kept);

    QElapsedTimer clock;
    clock.start();
    QString error;
    const auto all = keptHistory.runs(QStringList(), &error);
    std::printf("every run read at once (%d): %.1f ms\n", all ? int(all->size()) : -1,
                clock.nsecsElapsed() / 1e6);
    return 0;
}
