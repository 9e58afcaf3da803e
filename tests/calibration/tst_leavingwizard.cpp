// Leaving the calibration wizard and what its captures take, driven like a technician against the
// simulated sender: Cancel, close and loss write nothing; stale, faulty readings; Finish's files.
#include "abstractcalpage.h"
#include "calibrationshared.h"
#include "calsumpage.h"
#include "modalanswer.h"
#include "vx4protocol.h"
#include "wizarddriver.h"

#include <QPushButton>
#include <QSettings>
#include <QtTest>

using namespace VX4Protocol;

namespace {
enum How { Cancel, Escape, CloseBox, Loss };
enum Obstacles { None, WorkBlocked, AllBlocked };
enum Answer { NoBox, Retry, ChooseFolder, GiveUp };

void block(Obstacles obstacles)
{
    if (obstacles >= WorkBlocked) {
        QFile("calibration sheets").open(QIODevice::WriteOnly);
        QDir().mkdir("calVoltages.csv");
    }
    if (obstacles == AllBlocked)
        QDir().mkdir("home"), QFile("home/Ostrand").open(QIODevice::WriteOnly);
}

void unblock()
{
    QFile::remove("calibration sheets");
    QDir().rmdir("calVoltages.csv");
    QFile::remove("home/Ostrand");
}

} // namespace

class TestLeavingWizard : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings("Ostrand", "VX Lite Tarrow").clear(); }
    void leavingWithoutFinish_writesNothing_data();
    void leavingWithoutFinish_writesNothing();
    void capture_takesOnlyAFreshGoodReading_data();
    void capture_takesOnlyAFreshGoodReading();
    void backAcrossGroups_keepsModeAndVoidsStaleVerification();
    void finish_writesCertificateAndRow_orAsksWhereTo_data();
    void finish_writesCertificateAndRow_orAsksWhereTo();
    void senderLost_closesTheWizardsDialogs_data();
    void senderLost_closesTheWizardsDialogs();
};

void TestLeavingWizard::leavingWithoutFinish_writesNothing_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("how");
    QTest::newRow("intro, Cancel") << 0 << int(Cancel);
    QTest::newRow("last calibration page, Cancel") << 10 << int(Cancel);
    QTest::newRow("last calibration page, Escape") << 10 << int(Escape);
    QTest::newRow("last calibration page, close box") << 10 << int(CloseBox);
    QTest::newRow("summary, Cancel") << 16 << int(Cancel);
    QTest::newRow("summary, sender lost") << 16 << int(Loss);
}

// Nothing to the sender (once its answers are in), no voltage row, no intro settings.
void TestLeavingWizard::leavingWithoutFinish_writesNothing()
{
    QFETCH(int, page);
    QFETCH(int, how);
    CalibrationRun r;
    QVERIFY(r.start(false));
    QVERIFY(page == 0 || (r.driver->click(QWizard::NextButton) && r.jumpTo(page)));
    QVERIFY(r.settle());
    if (how == Cancel)
        QVERIFY(r.driver->click(QWizard::CancelButton));
    else if (how == Escape)
        QTest::keyClick(r.wizard.get(), Qt::Key_Escape);
    else if (how == CloseBox)
        r.wizard->close();
    else
        r.link.sender.setSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT(!r.wizard->isVisible(), 10000);
    QCOMPARE(r.wizard->result(),
             how == Loss ? CalibrationWizard::SenderLost : CalibrationWizard::Cancelled);
    r.link.sender.setSilent(false);
    QVERIFY(r.settle());
    QVERIFY(!r.link.sender.requestCommands().contains(SaveCalData));
    QVERIFY(!QFile::exists("calVoltages.csv") && !QFile::exists("home/Ostrand/calVoltages.csv"));
    QCOMPARE(QSettings("Ostrand", "VX Lite Tarrow").contains("calsetup/firstname"), page != 0);
}

void TestLeavingWizard::capture_takesOnlyAFreshGoodReading_data()
{
    QTest::addColumn<int>("status"); // A/D status of the frames; 0: a reading from before Back
    QTest::addColumn<QString>("notice");
    QTest::newRow("A/D timeout") << 1 << "\"A/D timeout\"";
    QTest::newRow("A/D NACK") << 2 << "\"A/D NACK\"";
    QTest::newRow("A/D bad configuration") << 3 << "\"A/D Bad Config Byte\"";
    QTest::newRow("reading from before Back") << 0 << "Waiting for a pressure reading";
}

void TestLeavingWizard::capture_takesOnlyAFreshGoodReading()
{
    QFETCH(int, status);
    QFETCH(QString, notice);
    CalibrationRun r;
    QVERIFY(r.start());
    AbstractCalPage *first = r.wizard->capturePage(1);
    if (status == 0) {
        QVERIFY(r.driver->capture(14));
        QVERIFY(r.driver->click(QWizard::BackButton));
    } else {
        r.link.sender.setAdStatus(quint8(status));
        QTRY_VERIFY(first->statusText().contains(notice));
    }
    // At once: no reading can arrive between becoming current and the press.
    first->captureButton()->click();
    QCOMPARE(r.wizard->currentId(), 1);
    QVERIFY2(first->statusText().contains(notice), qPrintable(first->statusText()));
    QCOMPARE(gCapturedPressures.value(1, -1), status == 0 ? 14 : -1);

    r.link.sender.setAdStatus(0);
    QVERIFY(r.driver->capture(-20));
    QCOMPARE(gCapturedPressures.value(1), -20);
}

// Back across a group boundary leaves the sender in the page's mode even while the switch there
// is unanswered; readings taken under a calibration being repeated must be taken again.
void TestLeavingWizard::backAcrossGroups_keepsModeAndVoidsStaleVerification()
{
    CalibrationRun r;
    QVERIFY(r.start());
    r.link.sender.setAnswerDelay(150);
    QVERIFY(r.jumpTo(CalPages::FirstCalibration) && r.driver->click(QWizard::BackButton));
    QVERIFY(r.settle());
    QCOMPARE(r.link.sender.mode(), PressureSendingMode);
    QCOMPARE(r.link.sender.requestCommands().count(ModeSwitch), 2);

    r.link.sender.setAnswerDelay(0);
    QVERIFY(r.jumpTo(CalPages::LastCalibration));
    QVERIFY(r.driver->capture(3000) && r.driver->capture(0));
    QVERIFY(r.driver->click(QWizard::BackButton) && r.driver->click(QWizard::BackButton));
    QVERIFY(r.driver->capture(3000));
    QCOMPARE(r.wizard->currentId(), CalPages::FirstVerification);
    QVERIFY(!gCapturedPressures.contains(CalPages::FirstVerification));
    QVERIFY(!r.wizard->button(QWizard::NextButton)->isEnabled());
    QVERIFY(r.settle());
    QCOMPARE(r.link.sender.requestCommands().count(SaveCalData), 2);
}

void TestLeavingWizard::finish_writesCertificateAndRow_orAsksWhereTo_data()
{
    QTest::addColumn<int>("obstacles");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("pdfIn"); // none: nothing written, the wizard stays
    QTest::addColumn<QString>("csvIn");
    QTest::newRow("working folder") << int(None) << int(NoBox) << "calibration sheets"
                                    << ".";
    QTest::newRow("home fallback")
        << int(WorkBlocked) << int(NoBox) << "home/Ostrand/calibration sheets"
        << "home/Ostrand";
    QTest::newRow("retry once cleared") << int(AllBlocked) << int(Retry) << "calibration sheets"
                                        << ".";
    QTest::newRow("chosen folder") << int(AllBlocked) << int(ChooseFolder) << "chosen"
                                   << "chosen";
    QTest::newRow("given up") << int(AllBlocked) << int(GiveUp) << QString() << QString();
}

void TestLeavingWizard::finish_writesCertificateAndRow_orAsksWhereTo()
{
    QFETCH(int, obstacles);
    QFETCH(int, answer);
    QFETCH(QString, pdfIn);
    QFETCH(QString, csvIn);
    CalibrationRun r;
    QVERIFY(r.start() && r.jumpTo(CalPages::Summary));
    block(Obstacles(obstacles));
    const QString chosen = r.work.path("chosen");
    r.wizard->summaryPage()->setFolderChooser([&](QWidget *, const QString &) {
        QDir().mkpath(chosen);
        return chosen;
    });
    QString boxText; // a box where none belongs is cancelled
    QTimer answerer;
    answerer.callOnTimeout([&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        boxText = box->text();
        if (answer == Retry)
            unblock();
        const QString button
            = QStringList { "Cancel", "Retry", "Choose Folder...", "Cancel" }[answer];
        for (QAbstractButton *b : box->buttons())
            if (b->text().remove('&') == button)
                return b->click();
    });
    answerer.start(20);
    QVERIFY(r.driver->click(QWizard::FinishButton));
    QCOMPARE(r.wizard->isVisible(), pdfIn.isEmpty());
    QCOMPARE(boxText.isEmpty(), answer == NoBox);
    QVERIFY2(answer == NoBox
                 || (boxText.contains("as a PDF file") && boxText.contains("voltages could not")),
             qPrintable(boxText));
    if (pdfIn.isEmpty())
        return;
    const QStringList pdfs = QDir(pdfIn).entryList({ "*.pdf" });
    QCOMPARE(pdfs.size(), 1);
    QVERIFY(pdfText(QDir(pdfIn).filePath(pdfs[0])).contains("OVX4-1234"));
    QFile csv(QDir(csvIn).filePath("calVoltages.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll().count("OVX4-1234, 1.0"), 1);
}

void TestLeavingWizard::senderLost_closesTheWizardsDialogs_data()
{
    QTest::addColumn<bool>("print"); // else Finish, with nowhere to write
    QTest::newRow("print dialog") << true;
    QTest::newRow("Finish's box") << false;
}

void TestLeavingWizard::senderLost_closesTheWizardsDialogs()
{
    QFETCH(bool, print);
    CalibrationRun r;
    QVERIFY(r.start() && r.jumpTo(CalPages::Summary));
    block(print ? None : AllBlocked);
    QString seen;
    bool stayedOpen = false;
    ModalAnswer::expect([&](QWidget *modal) {
        seen = modal->windowTitle();
        QTimer::singleShot(8000, modal, [&, modal] {
            stayedOpen = true;
            qobject_cast<QDialog *>(modal)->reject();
        });
        r.link.sender.setSilent(true);
    });
    if (print)
        r.wizard->summaryPage()->findChild<QPushButton *>()->click();
    else
        QVERIFY(r.driver->click(QWizard::FinishButton));
    QCOMPARE(seen, print ? "Print Document" : "Calibration");
    QCOMPARE(r.wizard->result(), CalibrationWizard::SenderLost);
    QVERIFY(!stayedOpen && !QApplication::activeModalWidget());
}

QTEST_MAIN(TestLeavingWizard)
#include "tst_leavingwizard.moc"
