// The calibration wizard driven like a technician against the simulated sender over a pty, and
// its summary page alone: what the sender received and stores, captures, endings, PDF and CSV.
#include "abstractcalpage.h"
#include "calibrationshared.h"
#include "calsumpage.h"
#include "intropage.h"
#include "modalanswer.h"
#include "vx4protocol.h"
#include "wizarddriver.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

using namespace VX4Protocol;

static const QList<int> SetPoints { 0, 750, 1500, 2250, 3000 };
static const QString Sheet = "calibration sheets/OVX4-0123 2013-12-11 15-31-52.pdf";

// The summary page alone in a temporary working directory, the intro page supplying fields.
struct Summary
{
    WorkingDir work;
    QWizard wizard;
    CalSumPage *page = new CalSumPage(&wizard);

    explicit Summary(const QString &serial = "OVX4-0123")
    {
        qputenv("HOME", work.path("home").toLocal8Bit());
        gCalibrationDateTime = QDateTime(QDate(2013, 12, 11), QTime(15, 31, 52));
        // Verification readings at and just beyond the tolerance; 3000 PSI has none.
        gCapturedPressures = { { 1, 14 }, { 11, -10 }, { 12, 761 }, { 13, 1489 }, { 14, 2260 } };
        gVerificationVoltages = { 0.0, 0.625, 1.25, 1.875, 2.5 };
        wizard.setPage(CalPages::Intro, new IntroPage(&wizard));
        wizard.setPage(CalPages::Summary, page);
        wizard.setStartId(CalPages::Summary);
        wizard.setField("serialNumber", serial);
        wizard.setField("lastName", "Smith");
        wizard.setField("company", "Smith & Sons <Hydraulics>");
        wizard.show();
    }
    // Clicks Print and closes every box and dialog it opens; returns their texts or titles.
    QStringList print()
    {
        QStringList seen;
        std::function<void(QWidget *)> answer = [&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            seen.append(box ? box->text() : modal->windowTitle());
            if (box)
                ModalAnswer::expect(answer);
            qobject_cast<QDialog *>(modal)->reject();
        };
        ModalAnswer::expect(answer);
        page->findChild<QPushButton *>()->click();
        return seen;
    }
};

class TestCalibration : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings("Ostrand", "VX Lite Tarrow").clear(); }
    void fullRun_sendsRequestsInOrderAndLeavesSenderReadingTrue();
    void senderInCalibrationMode_skipsAsFoundPass_andSilenceEndsItWithMinusTwo();
    void doubleCapture_movesOnePageOnly_data();
    void doubleCapture_movesOnePageOnly();
    void print_writesReadablePdfAndAppendsRow_data();
    void print_writesReadablePdfAndAppendsRow();
    void print_replacesOldFileFallsBackOrWarns_data();
    void print_replacesOldFileFallsBackOrWarns();
};

void TestCalibration::fullRun_sendsRequestsInOrderAndLeavesSenderReadingTrue()
{
    CalibrationRun r;
    r.link.sender.setCalibrationError(12, 1.02);
    QVERIFY(r.start(false));
    for (int id = CalPages::FirstAsFound; id <= CalPages::LastVerification; ++id)
        QVERIFY(r.wizard->capturePage(id)->findChild<QLabel *>()->text().contains(
            QStringLiteral("Set pressure to %1 PSI").arg(SetPoints[(id - 1) % 5])));
    QVERIFY(!r.wizard->page(CalPages::FirstAsFound)->pixmap(QWizard::WatermarkPixmap).isNull());
    r.wizard->setField("lastName", QString());
    QVERIFY(!r.driver->click(QWizard::NextButton));
    r.wizard->setField("lastName", "Jones");
    QVERIFY(r.driver->click(QWizard::NextButton));
    QCOMPARE(CalibrationWizard(nullptr, r.link.engine.get()).field("lastName").toString(), "Jones");

    QVERIFY(r.driver->runPass(false) && r.driver->runPass(true) && r.driver->runPass(false, 3));
    const QDateTime when = gCalibrationDateTime;
    const QString saved
        = QString::asprintf("0e%04x%02x%02x%02x%02x", when.date().year(), when.date().month(),
                            when.date().day(), when.time().hour(), when.time().minute());
    // MODE SWITCH 0c, CAPTURE PRESSURE 0d (index, PSI), SAVE and GET CAL DATA, GET A/D COUNTS 16.
    QCOMPARE(r.wire(),
             (QStringList { "0c01", "0d000000", "0d0102ee", "0d0205dc", "0d0308ca", "0d040bb8",
                            saved, "0f", "0c00", "16", "16", "16", "16", "16" }));
    QTRY_COMPARE(r.link.engine->calDateTime(),
                 QDateTime(when.date(), QTime(when.time().hour(), when.time().minute())));
    // As found the sender read 12 PSI at 0 PSI; now it reads true.
    QCOMPARE(int(gCapturedPressures.value(1)), 12);
    QCOMPARE(gCapturedPressures.values().mid(5), (QList<qint16> { 3, 753, 1503, 2253, 3003 }));
    // Each page's own voltage: the A/D counts of its pressure, at 3 V full scale.
    QVERIFY(std::is_sorted(gVerificationVoltages.begin(), gVerificationVoltages.end()));
    QVERIFY(qAbs(gVerificationVoltages[4] - r.link.sender.adCounts() * 3.0 / 32767) < 1e-6);

    QVERIFY(r.driver->click(QWizard::FinishButton));
    QFile csv(r.work.path("calVoltages.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(csv.readAll()).split(", ").mid(1, 2),
             (QStringList { "OVX4-1234", "1.0" }));
}

void TestCalibration::senderInCalibrationMode_skipsAsFoundPass_andSilenceEndsItWithMinusTwo()
{
    CalibrationRun r;
    r.link.sender.setMode(CalibrationMode);
    QVERIFY(r.start());
    QVERIFY(r.driver->runPass(true) && r.driver->runPass(false));
    QCOMPARE(r.wire().first(), "0d000000");
    QCOMPARE(r.wizard->summaryPage()->certificateHtml().count("<td>N/A</td>"), 5);
    r.link.sender.setSilent(true);
    QCOMPARE(r.wizard->exec(), CalibrationWizard::SenderLost);
}

void TestCalibration::doubleCapture_movesOnePageOnly_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<quint8>("command");
    QTest::newRow("calibration page") << 6 << quint8(CapturePressure);
    QTest::newRow("verification page") << 11 << quint8(GetAdCounts);
}

// The second answer reaches the next page, which did not ask for it: that page must stay, with
// nothing recorded for it.
void TestCalibration::doubleCapture_movesOnePageOnly()
{
    QFETCH(int, page);
    QFETCH(quint8, command);
    gVerificationVoltages.fill(-1);
    CalibrationRun r;
    QVERIFY(r.start());
    while (r.wizard->currentId() < page)
        QVERIFY(r.driver->capture(SetPoints[(r.wizard->currentId() - 1) % 5]));
    QVERIFY(r.driver->capture(0, 2));
    QTRY_VERIFY(r.link.engine->queuedMessages().isEmpty());
    QCOMPARE(r.link.sender.requestCommands().count(command), 2);
    QCOMPARE(r.wizard->currentId(), page + 1);
    QCOMPARE(gVerificationVoltages[1], -1.0);
}

void TestCalibration::print_writesReadablePdfAndAppendsRow_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("model"); // the first digit after the three-letter prefix
    QTest::addColumn<QString>("fileName");
    QTest::newRow("plain") << "OVX4-0123" << 4 << "OVX4-0123 2013-12-11 15-31-52.pdf";
    QTest::newRow("reserved") << "OVX7/0:1*\"2" << 7 << "OVX7_0_1__2 2013-12-11 15-31-52.pdf";
    QTest::newRow("too short for a model") << "OVX" << 5 << "OVX 2013-12-11 15-31-52.pdf";
}

// Printing twice rewrites the one file named after the calibration and appends two rows.
void TestCalibration::print_writesReadablePdfAndAppendsRow()
{
    QFETCH(QString, serial);
    QFETCH(int, model);
    QFETCH(QString, fileName);
    Summary s(serial);
    QCOMPARE(s.print() + s.print(), (QStringList { "Print Document", "Print Document" }));
    QCOMPARE(QDir("calibration sheets").entryList(QDir::Files), QStringList { fileName });
    const QString text = pdfText("calibration sheets/" + fileName);
    for (const QString &piece :
         { "Model: Orvelle\u00ae " + QString::number(model), "Serial Number: " + serial,
           QString("Date and Time: 2013-12-11 15:31 Next calibration due: 2014-12-11"),
           QString("Technician: Smith Company: Smith & Sons <Hydraulics>"),
           QString("0 14 -10 Passed 750 N/A 761 Failed 1500 N/A 1489 Failed "
                   "2250 N/A 2260 Passed 3000 N/A 0 Failed") })
        QVERIFY2(text.contains(piece), qPrintable(piece + " in " + text));

    QFile csv("calVoltages.csv");
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromLocal8Bit(csv.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 2);
    QVERIFY(QDateTime::fromString(rows[1].section(", ", 0, 0), Qt::TextDate).isValid());
    QCOMPARE(rows[1].section(", ", 1),
             "OVX4-0000, 0.0, 0.00000, 0.62500, 1.25000, 1.87500, 2.50000");
}

enum Obstacle { OldReadOnly, OldLink, OldFolder, CsvBlocked, WorkBlocked, HomeBlocked };

void TestCalibration::print_replacesOldFileFallsBackOrWarns_data()
{
    QTest::addColumn<QString>("pdfIn"); // the folder the certificate ends up in, if any
    QTest::addColumn<int>("obstacle");
    QTest::addColumn<QString>("seen"); // the boxes and dialogs that Print opens
    QTest::newRow("read-only old file") << "." << int(OldReadOnly) << "^Print Document$";
    // Catches a skipped removal also where tests run as root, who may write read-only files.
    QTest::newRow("old link to a folder") << "." << int(OldLink) << "^Print Document$";
    QTest::newRow("folder in the way") << "" << int(OldFolder) << "certificate.*\\|Print Document$";
    // The row then goes to the home fallback, as the certificates do.
    QTest::newRow("csv blocked") << "." << int(CsvBlocked) << "^Print Document$";
    QTest::newRow("no working folder") << "home/Ostrand" << int(WorkBlocked) << "^Print Document$";
    QTest::newRow("no home folder") << "" << int(HomeBlocked) << "as a PDF.*\\|Print Document$";
}

void TestCalibration::print_replacesOldFileFallsBackOrWarns()
{
    QFETCH(QString, pdfIn);
    QFETCH(int, obstacle);
    QFETCH(QString, seen);
    Summary s;
    if (obstacle >= WorkBlocked)
        QVERIFY(QFile("calibration sheets").open(QIODevice::WriteOnly));
    else
        QVERIFY(QDir().mkpath(obstacle == OldFolder ? Sheet : "calibration sheets"));
    // A copy of a resource is read-only.
    if (obstacle == OldReadOnly)
        QVERIFY(QFile::copy(":/images/images/ostrand.png", Sheet));
    if (obstacle == OldLink)
        QVERIFY(QFile::link(s.work.dir.path(), Sheet));
    if (obstacle == CsvBlocked)
        QVERIFY(QDir().mkdir("calVoltages.csv"));
    if (obstacle == HomeBlocked)
        QVERIFY(QDir().mkdir("home") && QFile("home/Ostrand").open(QIODevice::WriteOnly));
    const QString dialogs = s.print().join(u'|');
    QVERIFY2(dialogs.contains(QRegularExpression(seen)), qPrintable(dialogs));
    if (!pdfIn.isEmpty())
        QVERIFY(pdfText(QDir(pdfIn).filePath(Sheet)).contains("OVX4-0123"));
}

QTEST_MAIN(TestCalibration)
#include "tst_calibration.moc"
