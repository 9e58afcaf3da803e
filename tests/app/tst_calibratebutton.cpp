// The main window's hand-off to the calibration wizard against the simulated sender: the refusals,
// a cancelled wizard, a sender lost while it runs, and the live display afterwards.
#include "VX4calibrationwizard.h"
#include "VX4interface.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "qlogger.h"
#include "senderwindow.h"
#include "vx4protocol.h"

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

QTEST_MAIN(TestCalibrateButton)
#include "tst_calibratebutton.moc"
