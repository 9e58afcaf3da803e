// The summary page on the offscreen platform: the certificate PDF read back with pdftotext, its
// folder and the home fallback, the print dialog, calVoltages.csv and the warnings when either
// cannot be written.
#include "calibrationshared.h"
#include "calsumpage.h"
#include "intropage.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "simlink.h"
#include "wizarddriver.h"

#include <QProcess>
#include <QPushButton>
#include <QtTest>

class TestCalSumPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void print_writesReadablePdfAndAppendsRow_data();
    void print_writesReadablePdfAndAppendsRow();
    void workingDirectoryUnwritable_savesUnderHome();
    void noWritableFolder_warnsAndStillOffersPrinting();
    void voltageFileUnopenable_warnsOnFinish();

private:
    void show(const QString &serial = QStringLiteral("OVX4-0123"));
    QString clickPrint(bool expectWarning = false);
    QStringList csvRows() const;

    std::unique_ptr<WorkingDir> work;
    std::unique_ptr<QWizard> wizard;
    CalSumPage *page = nullptr;
    QString home;
};

void TestCalSumPage::init()
{
    work = std::make_unique<WorkingDir>();
    home = qEnvironmentVariable("HOME");
    gPressureSender = nullptr;
    gCalibrationDateTime = QDateTime(QDate(2013, 12, 11), QTime(15, 31, 52));
    gCapturedPressures = { { 1, 14 },    { 2, 777 },   { 11, 2 },   { 12, 752 },
                           { 13, 1489 }, { 14, 2261 }, { 15, 3010 } };
    gVerificationVoltages = { 0.0, 0.625, 1.25, 1.875, 2.5 };
}

void TestCalSumPage::cleanup()
{
    wizard.reset();
    QDir(home + QStringLiteral("/Ostrand")).removeRecursively();
    qputenv("HOME", home.toLocal8Bit());
    work.reset();
}

// The intro page supplies the fields; the wizard starts on the summary.
void TestCalSumPage::show(const QString &serial)
{
    wizard = std::make_unique<QWizard>();
    wizard->setPage(0, new IntroPage(wizard.get()));
    page = new CalSumPage(wizard.get());
    wizard->setPage(16, page);
    wizard->setStartId(16);
    wizard->setField(QStringLiteral("serialNumber"), serial);
    wizard->setField(QStringLiteral("firstName"), QStringLiteral("Ann"));
    wizard->setField(QStringLiteral("lastName"), QStringLiteral("Smith"));
    wizard->show();
}

// Clicks Print, answering an optional warning box and then the print dialog with Cancel.
QString TestCalSumPage::clickPrint(bool expectWarning)
{
    QString seen;
    auto cancelPrintDialog = [&seen](QWidget *dialog) {
        seen += dialog->windowTitle();
        qobject_cast<QDialog *>(dialog)->reject();
    };
    if (expectWarning) {
        ModalAnswer::expect([&](QWidget *box) {
            seen = qobject_cast<QMessageBox *>(box)->text() + u'|';
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click();
            ModalAnswer::expect([&](QWidget *dialog) { cancelPrintDialog(dialog); });
        });
    } else {
        ModalAnswer::expect(cancelPrintDialog);
    }
    const QList<QPushButton *> buttons = page->findChildren<QPushButton *>();
    buttons.first()->click();
    return seen;
}

QStringList TestCalSumPage::csvRows() const
{
    QFile csv(work->path(QStringLiteral("calVoltages.csv")));
    if (!csv.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(csv.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

static QString pdfText(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), path, QStringLiteral("-") });
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

void TestCalSumPage::print_writesReadablePdfAndAppendsRow_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("OVX4-0123") << "OVX4-0123"
                               << "OVX4-0123 2013-12-11 15-31-52.pdf";
    QTest::newRow("slash and colon") << "OVX4/01:23"
                                     << "OVX4_01_23 2013-12-11 15-31-52.pdf";
}

void TestCalSumPage::print_writesReadablePdfAndAppendsRow()
{
    QFETCH(QString, serial);
    QFETCH(QString, fileName);
    show(serial);
    QCOMPARE(clickPrint(), QStringLiteral("Print Document"));

    const QString pdf = work->path(QStringLiteral("calibration sheets/") + fileName);
    const QString text = pdfText(pdf);
    QVERIFY2(text.contains(serial), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Ann Smith")));
    static const QRegularExpression results(QStringLiteral("(Passed|Failed)"));
    QStringList found;
    for (auto it = results.globalMatch(text); it.hasNext();)
        found.append(it.next().captured(1));
    QCOMPARE(found, (QStringList { "Passed", "Passed", "Failed", "Failed", "Passed" }));

    // Printing again rewrites the same file and appends a second row.
    clickPrint();
    QCOMPARE(QDir(work->path(QStringLiteral("calibration sheets"))).entryList(QDir::Files),
             QStringList { fileName });
    const QStringList rows = csvRows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(1).section(QStringLiteral(", "), 1),
             QStringLiteral("OVX4-0000, 0.0, 0.00000, 0.62500, 1.25000, 1.87500, 2.50000"));
}

void TestCalSumPage::workingDirectoryUnwritable_savesUnderHome()
{
    LogCapture log;
    QFile blocker(work->path(QStringLiteral("calibration sheets")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    show();
    clickPrint();
    QVERIFY(log.contains(QStringLiteral("Failed to create direcotry \"calibration sheets\"")));
    QVERIFY(QFileInfo(home
                      + QStringLiteral("/Ostrand/calibration sheets/OVX4-0123 2013-12-11 "
                                       "15-31-52.pdf"))
                .size()
            > 0);
}

void TestCalSumPage::noWritableFolder_warnsAndStillOffersPrinting()
{
    QFile(work->path(QStringLiteral("calibration sheets"))).open(QIODevice::WriteOnly);
    const QString otherHome = work->path(QStringLiteral("home"));
    QDir().mkpath(otherHome);
    QFile(otherHome + QStringLiteral("/Ostrand")).open(QIODevice::WriteOnly);
    qputenv("HOME", otherHome.toLocal8Bit());
    show();
    const QString seen = clickPrint(true);
    QVERIFY2(seen.contains(work->path(QStringLiteral("calibration sheets"))), qPrintable(seen));
    QVERIFY(seen.contains(otherHome + QStringLiteral("/Ostrand/calibration sheets")));
    QVERIFY(seen.endsWith(QStringLiteral("|Print Document")));
    QCOMPARE(csvRows().size(), 1);
}

void TestCalSumPage::voltageFileUnopenable_warnsOnFinish()
{
    QVERIFY(QDir().mkdir(work->path(QStringLiteral("calVoltages.csv"))));
    show();
    QString text;
    ModalAnswer::pressButton(QMessageBox::Ok, &text);
    QSignalSpy finished(wizard.get(), &QDialog::finished);
    wizard->button(QWizard::FinishButton)->click();
    QVERIFY(text.contains(work->path(QStringLiteral("calVoltages.csv"))));
    QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
}

QTEST_MAIN(TestCalSumPage)
#include "tst_calsumpage.moc"
