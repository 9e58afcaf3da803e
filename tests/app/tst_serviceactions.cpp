// The service actions against the simulated sender: zeroing within -30..30 PSI and the requests it
// sends, the serial number dialog and its values, and toggling the mode and the application.
#include "VX4interface.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "senderwindow.h"
#include "vx4protocol.h"
#include "vx4serialnumdialog.h"

#include <QDialogButtonBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace VX4Protocol;

class TestServiceActions : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void zeroPressure_insideTheRange_sendsZeroThenOffsetRequest_data();
    void zeroPressure_insideTheRange_sendsZeroThenOffsetRequest();
    void zeroPressure_outsideTheRange_isRefused_data();
    void zeroPressure_outsideTheRange_isRefused();
    void zeroPressure_cancelled_sendsNothing();

    void serialNumber_entered_isWrittenAndReadBack_data();
    void serialNumber_entered_isWrittenAndReadBack();
    void serialNumber_aboveSixteenBits_isRefused();
    void serialNumber_cancelled_sendsNothing();

    void modeToggle_requestsTheOtherMode();
    void appToggle_switchesApplicationAndReconnects();

private:
    static QList<QByteArray> payloadsOf(const SimulatedSender &sender, quint8 command);
    /// Opens the serial number dialog, types `digits`, presses Ok.
    static void enterSerialNumber(SenderWindow &w, const QString &digits);
};

void TestServiceActions::init()
{
    clearSettings();
}

QList<QByteArray> TestServiceActions::payloadsOf(const SimulatedSender &sender, quint8 command)
{
    QList<QByteArray> payloads;
    for (const VX4Message &m : sender.requests()) {
        if (m.command == command)
            payloads.append(m.payload);
    }
    return payloads;
}

void TestServiceActions::zeroPressure_insideTheRange_sendsZeroThenOffsetRequest_data()
{
    QTest::addColumn<int>("psi");
    QTest::newRow("upper edge") << 30;
    QTest::newRow("lower edge") << -30;
    QTest::newRow("zero") << 0;
}

void TestServiceActions::zeroPressure_insideTheRange_sendsZeroThenOffsetRequest()
{
    QFETCH(int, psi);
    SenderWindow w;
    w.sender.setAppliedPressure(psi);
    QVERIFY(w.openAndConnect());
    QVERIFY(w.waitForReading(psi));
    w.sender.clearRequests();

    QString text;
    ModalAnswer::pressButton(QMessageBox::Ok, &text);
    w.ui()->zeroPressureButton->click();
    QCOMPARE(text,
             QStringLiteral("Warning.  Disconnect hydraulic pressure source before proceeding!"));

    QTRY_VERIFY(w.sender.requestCommands().contains(GetOffset));
    const QList<quint8> commands = w.sender.requestCommands();
    QVERIFY(commands.indexOf(ZeroPsi) >= 0);
    QVERIFY(commands.indexOf(ZeroPsi) < commands.indexOf(GetOffset));
    // The new offset reaches the window, and the reading is zero from now on.
    QTRY_COMPARE(w.ui()->pressureOffsetValue->text(), QString::number(w.sender.adOffset()));
    QVERIFY(w.waitForReading(0));
}

void TestServiceActions::zeroPressure_outsideTheRange_isRefused_data()
{
    QTest::addColumn<double>("applied");
    QTest::addColumn<double>("gain");
    QTest::addColumn<int>("psi");
    QTest::newRow("above") << 31.0 << 1.0 << 31;
    QTest::newRow("below") << -31.0 << 1.0 << -31;
    QTest::newRow("too wide for the display") << 1250.0 << 10.0 << 12501;
}

void TestServiceActions::zeroPressure_outsideTheRange_isRefused()
{
    QFETCH(double, applied);
    QFETCH(double, gain);
    QFETCH(int, psi);
    SenderWindow w;
    w.sender.setAppliedPressure(applied);
    w.sender.setCalibrationError(0, gain);
    QCOMPARE(w.sender.reading(), psi);
    QVERIFY(w.openAndConnect());
    QSignalSpy frames(w.engine(), &VX4Interface::vx4PressureMsgRdy);
    QVERIFY(QTest::qWaitFor(
        [&]() { return !frames.isEmpty() && frames.last().at(0).toInt() == psi; }, 5000));
    // Four digits cannot hold 12501: dashes, not the digits of an older reading.
    QCOMPARE(w.ui()->psiLCD->intValue(), psi > 9999 ? 0 : psi);
    w.sender.clearRequests();

    QString text;
    ModalAnswer::pressButton(QMessageBox::Ok, &text);
    w.ui()->zeroPressureButton->click();
    QCOMPARE(text,
             QStringLiteral("Error.\n%1PSI is outside of the allowable adjustment range from "
                            "-30PSI to 30PSI.")
                 .arg(psi));
    for (const VX4Message &queued : w.engine()->queuedMessages())
        QVERIFY(queued.command != ZeroPsi);
    QVERIFY(!w.sender.requestCommands().contains(ZeroPsi));
}

void TestServiceActions::zeroPressure_cancelled_sendsNothing()
{
    SenderWindow w;
    QVERIFY(w.openAndConnect());
    QVERIFY(w.waitForReading(0));
    w.sender.clearRequests();
    ModalAnswer::pressButton(QMessageBox::Cancel);
    w.ui()->zeroPressureButton->click();
    for (const VX4Message &queued : w.engine()->queuedMessages())
        QVERIFY(queued.command != ZeroPsi);
    QVERIFY(!w.sender.requestCommands().contains(ZeroPsi));
}

void TestServiceActions::enterSerialNumber(SenderWindow &w, const QString &digits)
{
    ModalAnswer::expect([digits](QWidget *modal) {
        auto *dialog = qobject_cast<VX4SerialNumDialog *>(modal);
        if (!dialog) {
            qWarning("expected the serial number dialog");
            return;
        }
        QTest::keyClicks(dialog->serialNumberField(), digits);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    w.ui()->serNumButton->click();
}

void TestServiceActions::serialNumber_entered_isWrittenAndReadBack_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("shown");
    QTest::newRow("123") << QStringLiteral("123") << QByteArray::fromHex("007B")
                         << QStringLiteral("OVX4-0123");
    QTest::newRow("nothing typed")
        << QString() << QByteArray::fromHex("0000") << QStringLiteral("OVX4-0000");
    QTest::newRow("largest") << QStringLiteral("65535") << QByteArray::fromHex("FFFF")
                             << QStringLiteral("OVX4-65535");
    QTest::newRow("letters are not taken")
        << QStringLiteral("4x2") << QByteArray::fromHex("002A") << QStringLiteral("OVX4-0042");
}

void TestServiceActions::serialNumber_entered_isWrittenAndReadBack()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, payload);
    QFETCH(QString, shown);
    SenderWindow w({ QStringLiteral("-ShowSetSerial") });
    QVERIFY(w.openAndConnect());
    w.sender.clearRequests();
    LogCapture log;

    enterSerialNumber(w, typed);

    QVERIFY(log.textsFrom(QStringLiteral("mainwindow"))
                .contains(QStringLiteral("Set serial number button clicked.")));
    QTRY_VERIFY(w.sender.requestCommands().contains(GetSerial));
    QCOMPARE(payloadsOf(w.sender, SetSerial), QList<QByteArray> { payload });
    QVERIFY(w.sender.requestCommands().indexOf(SetSerial)
            < w.sender.requestCommands().indexOf(GetSerial));
    QTRY_COMPARE(w.ui()->serNum->text(), shown);
}

void TestServiceActions::serialNumber_aboveSixteenBits_isRefused()
{
    SenderWindow w({ QStringLiteral("-ShowSetSerial") });
    QVERIFY(w.openAndConnect());
    w.sender.clearRequests();

    QString refusal;
    bool stayedOpen = false;
    ModalAnswer::expect([&](QWidget *modal) {
        auto *dialog = qobject_cast<VX4SerialNumDialog *>(modal);
        QTest::keyClicks(dialog->serialNumberField(), QStringLiteral("65536"));
        ModalAnswer::pressButton(QMessageBox::Ok, &refusal);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        stayedOpen = dialog->isVisible();
        dialog->reject();
    });
    w.ui()->serNumButton->click();

    QVERIFY(stayedOpen);
    QCOMPARE(refusal,
             QStringLiteral("The serial number 65536 is too large.\nSerial numbers range from 0 "
                            "to 65535."));
    QVERIFY(payloadsOf(w.sender, SetSerial).isEmpty());
    for (const VX4Message &queued : w.engine()->queuedMessages())
        QVERIFY(queued.command != SetSerial);
}

void TestServiceActions::serialNumber_cancelled_sendsNothing()
{
    SenderWindow w({ QStringLiteral("-ShowSetSerial") });
    QVERIFY(w.openAndConnect());
    w.sender.clearRequests();
    ModalAnswer::pressButton(QStringLiteral("Cancel"));
    w.ui()->serNumButton->click();
    for (const VX4Message &queued : w.engine()->queuedMessages())
        QVERIFY(queued.command != SetSerial);
    QVERIFY(payloadsOf(w.sender, SetSerial).isEmpty());
}

void TestServiceActions::modeToggle_requestsTheOtherMode()
{
    SenderWindow w({ QStringLiteral("-ShowModeSwitch") });
    QVERIFY(w.openAndConnect());
    w.sender.clearRequests();

    w.ui()->opModePushButton->click();
    QTRY_COMPARE(w.ui()->opMode->text(), QStringLiteral("Calibration Mode"));
    QCOMPARE(payloadsOf(w.sender, ModeSwitch), QList<QByteArray> { QByteArray::fromHex("01") });

    w.ui()->opModePushButton->click();
    QTRY_COMPARE(w.ui()->opMode->text(), QStringLiteral("Pressure Sending Mode"));
    QCOMPARE(payloadsOf(w.sender, ModeSwitch),
             (QList<QByteArray> { QByteArray::fromHex("01"), QByteArray::fromHex("00") }));
}

void TestServiceActions::appToggle_switchesApplicationAndReconnects()
{
    SenderWindow w({ QStringLiteral("-ShowAppSwitch") });
    QVERIFY(w.openAndConnect());
    w.sender.clearRequests();

    w.ui()->appChangePushButton->click();
    QTRY_COMPARE(w.ui()->currApp->text(), QStringLiteral("Bootloader Application"));
    QVERIFY(w.sender.requestCommands().contains(AppChange));
    QCOMPARE(w.sender.app(), Bootloader);
    QVERIFY(!w.ui()->zeroPressureButton->isEnabled());

    w.ui()->appChangePushButton->click();
    QTRY_COMPARE(w.ui()->currApp->text(), QStringLiteral("Pressure Sending Application"));
    QTRY_COMPARE(w.ui()->serNum->text(), QStringLiteral("OVX4-1234"));
    QVERIFY(w.ui()->zeroPressureButton->isEnabled());
}

QTEST_MAIN(TestServiceActions)
#include "tst_serviceactions.moc"
