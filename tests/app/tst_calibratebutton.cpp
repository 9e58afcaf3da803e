// The main window's hand-off to the calibration wizard against the simulated sender: the refusals,
// a cancelled wizard, a sender lost while it runs, and the live display afterwards.
#include "VX4calibrationwizard.h"
#include "VX4interface.h"
#include "calsumpage.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "qlogger.h"
#include "senderwindow.h"
#include "vx4protocol.h"
#include "wizarddriver.h"

#include <QDir>
#include <QProcess>

#include <QPushButton>
#include <QtTest>

using namespace VX4Protocol;

class TestCalibrateButton : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void noOpenPort_isRefusedWithItsBox();
    void cancelledWizard_returnsTheSenderToPressureSending();
    void senderLostDuringWizard_showsTheTimeoutBox();
    void fullRun_leavesCertificateCsvAndAPassingSender();
};

void TestCalibrateButton::init()
{
    QLogger::install();
    clearSettings();
}

void TestCalibrateButton::noOpenPort_isRefusedWithItsBox()
{
    SenderWindow w;
    QString text;
    ModalAnswer::pressButton(QMessageBox::Ok, &text);
    QMetaObject::invokeMethod(w.window.get(), "onUICalibrateButtonClicked");
    QTRY_COMPARE(text,
                 QStringLiteral("Pressure Sender is invalid.  Please check the pressure "
                                "sender's connection and then close and re-open the "
                                "communication port."));
}

void TestCalibrateButton::cancelledWizard_returnsTheSenderToPressureSending()
{
    LogCapture log;
    SenderWindow w;
    w.sender.setAppliedPressure(20);
    QVERIFY(w.openAndConnect());
    QVERIFY(w.waitForReading(20));
    w.sender.clearRequests();
    ModalAnswer::expect([](QWidget *modal) {
        QVERIFY(qobject_cast<CalibrationWizard *>(modal));
        qobject_cast<CalibrationWizard *>(modal)->reject();
    });
    w.ui()->calButton->click();
    QVERIFY(log.textsFrom(QStringLiteral("mainwindow"))
                .contains(QStringLiteral("Calibration wizard cancelled.")));
    QTRY_VERIFY(w.sender.requestCommands().contains(ModeSwitch));
    // The main display follows the sender again.
    w.sender.setAppliedPressure(-7);
    QVERIFY(w.waitForReading(-7));
}

void TestCalibrateButton::senderLostDuringWizard_showsTheTimeoutBox()
{
    SenderWindow w;
    QVERIFY(w.openAndConnect());
    QString text;
    ModalAnswer::expect([&](QWidget *modal) {
        QVERIFY(qobject_cast<CalibrationWizard *>(modal));
        ModalAnswer::pressButton(QMessageBox::Ok, &text, nullptr, 20000);
        w.sender.setSilent(true);
    });
    w.ui()->calButton->click();
    QCOMPARE(text,
             QStringLiteral("Calibration wizard aborted.  A timeout occurredwhile waiting "
                            "for the pressure sender to respond."));
    w.sender.setSilent(false);
    QVERIFY(w.waitForStatus(QStringLiteral("Connected")));
}

void TestCalibrateButton::fullRun_leavesCertificateCsvAndAPassingSender()
{
    LogCapture log;
    WorkingDir work;
    SenderWindow w;
    w.sender.setSerialNumber(2468);
    w.sender.setCalibrationError(18, 1.01);
    QVERIFY(w.openAndConnect());
    bool finished = false;
    ModalAnswer::expect(
        [&](QWidget *modal) {
            auto *wizard = qobject_cast<CalibrationWizard *>(modal);
            QVERIFY(wizard);
            WizardDriver driver { w.sender, w.engine(), *wizard };
            driver.fillIntro();
            finished = driver.click(QWizard::NextButton) && driver.runPass(false)
                && driver.runPass(true) && driver.runPass(false) && wizard->currentId() == 16;
            // Print writes the PDF and the voltage row, then offers the printer: declined here.
            for (QPushButton *b : wizard->summaryPage()->findChildren<QPushButton *>()) {
                if (finished && b->text() == QStringLiteral("&Print")) {
                    ModalAnswer::expect(
                        [](QWidget *dialog) { QMetaObject::invokeMethod(dialog, "reject"); });
                    b->click();
                }
            }
            finished = finished && driver.click(QWizard::FinishButton);
            if (!finished)
                wizard->reject();
        },
        20000);
    w.ui()->calButton->click();
    QVERIFY(finished);
    QVERIFY(log.textsFrom(QStringLiteral("mainwindow"))
                .contains(QStringLiteral("Calibration completed successfully.")));

    // The sender now reads true at every set point.
    for (int psi : { 0, 750, 1500, 2250, 3000 }) {
        w.sender.setAppliedPressure(psi);
        QCOMPARE(w.sender.reading(), psi);
    }
    const QStringList pdfs = QDir(work.path(QStringLiteral("calibration sheets")))
                                 .entryList({ QStringLiteral("*.pdf") }, QDir::Files);
    QCOMPARE(pdfs.size(), 1);
    QProcess text;
    text.start(
        QStringLiteral("pdftotext"),
        { work.path(QStringLiteral("calibration sheets/") + pdfs.first()), QStringLiteral("-") });
    QVERIFY(text.waitForFinished(20000));
    const QString certificate = QString::fromLocal8Bit(text.readAllStandardOutput());
    QVERIFY2(certificate.contains(QStringLiteral("OVX4-2468")), qPrintable(certificate));
    QCOMPARE(certificate.count(QStringLiteral("Passed")), 5);
    QVERIFY(QFile::exists(work.path(QStringLiteral("calVoltages.csv"))));
    // Back on the main window, the live reading follows the sender again.
    w.sender.setAppliedPressure(1234);
    QVERIFY(w.waitForReading(1234));
}

QTEST_MAIN(TestCalibrateButton)
#include "tst_calibratebutton.moc"
