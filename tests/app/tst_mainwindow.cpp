// The main window against the simulated sender over a pseudo-terminal: its values and live reading,
// loss and close, failed opens, port settings, service actions and the calibration hand-off.
#include "VX4calibrationwizard.h"
#include "VX4interface.h"
#include "modalanswer.h"
#include "senderwindow.h"
#include "vx4protocol.h"
#include "vx4serialnumdialog.h"
#include "wizarddriver.h"

#include <QtTest>
#include <QtWidgets>

using namespace VX4Protocol;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { clearSettings(); }
    void sender_showsItsValues_isLostAndRegained_andClosed();
    void portOpen_takesTheChosenSettingsOrShowsWhyNot_data();
    void portOpen_takesTheChosenSettingsOrShowsWhyNot();
    void zeroPressure_onlyWithinThirtyPsi_data();
    void zeroPressure_onlyWithinThirtyPsi();
    void serialNumber_writtenWithinSixteenBits_data();
    void serialNumber_writtenWithinSixteenBits();
    void modeButton_switchesToTheOtherMode();
    void calibrationCancelledOnACalibrationPage_stillNoticesALostSender();
};

namespace {
QStringList deviceTexts(MainWindowForm *ui)
{
    QStringList texts;
    for (QLabel *label : { ui->serNum, ui->firmVer, ui->calDate, ui->pressureOffsetValue,
                           ui->currApp, ui->opMode, ui->adStatus, ui->connectionStatus })
        texts << label->text();
    return texts;
}

void configure(SenderWindow &w, const QStringList &texts, QDialogButtonBox::StandardButton button)
{
    ModalAnswer::expect([=](QWidget *modal) {
        const QList<QComboBox *> boxes = modal->findChildren<QComboBox *>();
        for (int i = 0; i < boxes.size(); ++i)
            boxes.at(i)->setCurrentText(texts.at(i));
        modal->findChild<QDialogButtonBox *>()->button(button)->click();
    });
    w.ui()->serConfigButton->click();
}
} // namespace

void TestMainWindow::sender_showsItsValues_isLostAndRegained_andClosed()
{
    SenderWindow w({ "-ShowSetSerial" });
    MainWindowForm *ui = w.ui();
    w.sender.setSerialNumber(42);
    w.sender.setFirmwareVersion(0, 7); // the first version with an A/D offset
    w.sender.setCalDateTime(QDateTime(QDate(2014, 3, 5), QTime(15, 7)));
    w.sender.setAdOffset(-100);
    w.sender.setAppliedPressure(1500);
    QVERIFY(w.openAndConnect() && w.waitForReading(1500));
    const QStringList shown { "OVX4-0042",
                              "0.7",
                              "2014-03-05 03:07 PM",
                              "-100",
                              "Pressure Sending Application",
                              "Pressure Sending Mode",
                              "Okay",
                              "Connected" };
    QCOMPARE(deviceTexts(ui), shown);
    QVERIFY(ui->dpsBox->isEnabled() && !ui->serComboBox->isEnabled());
    QVERIFY(ui->serNumButton->isVisible() && !ui->opModePushButton->isVisible());
    w.sender.setAdStatus(1); // an A/D fault blanks the reading
    QTRY_COMPARE(ui->adStatus->text(), "A/D timeout");
    QCOMPARE(ui->psiLCD->intValue(), 0);
    w.sender.setAdStatus(0);
    w.sender.setAppliedPressure(-12.4);
    QVERIFY(w.waitForReading(-12));

    w.sender.setSilent(true);
    QVERIFY(w.waitForStatus("Disconnected"));
    const QStringList cleared { "", "", "", "", "", "", "", "Disconnected" };
    QCOMPARE(deviceTexts(ui), cleared);
    QVERIFY(ui->psiLCD->intValue() == 0 && !ui->dpsBox->isEnabled());
    w.sender.setSilent(false);
    QTRY_COMPARE(deviceTexts(ui), shown);

    ui->serButton->click();
    QCOMPARE(w.statusText(), "Closed " + w.portPath());
    QCOMPARE(deviceTexts(ui), cleared);
    QVERIFY(!w.engine() && ui->psiLCD->intValue() == 0 && !ui->dpsBox->isEnabled());
    QVERIFY(ui->serComboBox->isEnabled() && ui->serButton->text() == "Open");
}

void TestMainWindow::portOpen_takesTheChosenSettingsOrShowsWhyNot_data()
{
    QTest::addColumn<QStringList>("choice"); // none: a port that does not exist
    QTest::addColumn<QList<int>>("line"); // as opened: baud, data bits, parity, stop bits, flow
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing port") << QStringList() << QList<int>() << "No such file or directory";
    QTest::newRow("fast, even, two, hardware")
        << QStringList { "115200", "7", "Even", "2", "Hardware" }
        << QList<int> { 115200, 7, QSerialPort::EvenParity, 2, QSerialPort::HardwareControl }
        << QString();
    QTest::newRow("1.5 stop bits")
        << QStringList { "9600", "8", "None", "1.5", "Off" } << QList<int>()
        << "1.5 stop bits are not supported by the serial ports of this system.";
}

void TestMainWindow::portOpen_takesTheChosenSettingsOrShowsWhyNot()
{
    QFETCH(QStringList, choice);
    QFETCH(QList<int>, line);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    SenderWindow w({ "-ShowSerialConfig" }, { dir.filePath("no-such-port") });
    w.ui()->serButton->click(); // Configure is offered once a port has been closed
    w.ui()->serButton->click();
    if (choice.isEmpty())
        w.selectPort(dir.filePath("no-such-port"));
    else
        configure(w, choice, QDialogButtonBox::Ok);
    configure(w, { "2400", "6", "Mark", "1", "Off" }, QDialogButtonBox::Cancel);
    QString text, seenReason;
    if (!reason.isEmpty())
        ModalAnswer::pressButton(QMessageBox::Ok, &text, &seenReason);
    w.ui()->serButton->click();
    const QString port = w.ui()->serComboBox->currentText();
    QCOMPARE(seenReason, reason);
    if (QSerialPort *s = w.engine())
        QCOMPARE((QList<int> { s->baudRate(), s->dataBits(), s->parity(), s->stopBits(),
                               s->flowControl() }),
                 line);
    else
        QVERIFY(text == "Failed to open " + port && w.statusText() == text);
    // The port tried last is offered first next time.
    QCOMPARE(MainWindow(QStringList { "tst" }).form()->serComboBox->currentText(), port);
}

void TestMainWindow::zeroPressure_onlyWithinThirtyPsi_data()
{
    QTest::addColumn<int>("psi");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("30 confirmed") << 30 << QMessageBox::Ok;
    QTest::newRow("-30 confirmed") << -30 << QMessageBox::Ok;
    QTest::newRow("0 cancelled") << 0 << QMessageBox::Cancel;
    QTest::newRow("31 refused") << 31 << QMessageBox::Ok;
    QTest::newRow("-31 refused") << -31 << QMessageBox::Ok;
}

void TestMainWindow::zeroPressure_onlyWithinThirtyPsi()
{
    QFETCH(int, psi);
    QFETCH(QMessageBox::StandardButton, answer);
    SenderWindow w;
    w.sender.setAppliedPressure(psi);
    QVERIFY(w.openAndConnect() && w.waitForReading(psi));
    w.sender.clearRequests();
    QString text;
    ModalAnswer::pressButton(answer, &text);
    w.ui()->zeroPressureButton->click();
    const bool inRange = qAbs(psi) <= 30;
    QVERIFY2(text.startsWith(inRange ? "Warning.  Disconnect hydraulic pressure source"
                                     : QString("Error.\n%1PSI is outside").arg(psi)),
             qPrintable(text));
    const bool zeroing = inRange && answer == QMessageBox::Ok;
    QVERIFY(zeroing || w.sentNone(ZeroPsi));
    if (!zeroing)
        return;
    QTRY_VERIFY(!w.sent(GetOffset).isEmpty());
    const QList<quint8> sent = w.sender.requestCommands();
    QVERIFY(sent.contains(ZeroPsi) && sent.indexOf(ZeroPsi) < sent.indexOf(GetOffset));
    QTRY_COMPARE(w.ui()->pressureOffsetValue->text(), QString::number(w.sender.adOffset()));
    QVERIFY(w.waitForReading(0));
}

void TestMainWindow::serialNumber_writtenWithinSixteenBits_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("payload"); // none: refused
    QTest::addColumn<QString>("shown");
    QTest::newRow("123") << "123" << QByteArray::fromHex("007B") << "OVX4-0123";
    QTest::newRow("largest") << "65535" << QByteArray::fromHex("FFFF") << "OVX4-65535";
    QTest::newRow("letters not taken") << "4x2" << QByteArray::fromHex("002A") << "OVX4-0042";
    QTest::newRow("too large") << "65536" << QByteArray()
                               << "The serial number 65536 is too large.";
}

void TestMainWindow::serialNumber_writtenWithinSixteenBits()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, payload);
    QFETCH(QString, shown);
    SenderWindow w({ "-ShowSetSerial" });
    QVERIFY(w.openAndConnect());
    w.sender.clearRequests();
    QString refusal;
    ModalAnswer::expect([&](QWidget *modal) {
        auto *dialog = qobject_cast<VX4SerialNumDialog *>(modal);
        QTest::keyClicks(dialog->serialNumberField(), typed);
        if (payload.isEmpty())
            ModalAnswer::pressButton(QMessageBox::Ok, &refusal);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        if (dialog->isVisible()) // a refused number leaves the dialog open
            dialog->reject();
    });
    w.ui()->serNumButton->click();
    QVERIFY(!payload.isEmpty() || (refusal.startsWith(shown) && w.sentNone(SetSerial)));
    if (payload.isEmpty())
        return;
    QTRY_VERIFY(!w.sent(GetSerial).isEmpty());
    QCOMPARE(w.sent(SetSerial), QList<QByteArray> { payload });
    QTRY_COMPARE(w.ui()->serNum->text(), shown);
}

void TestMainWindow::modeButton_switchesToTheOtherMode()
{
    SenderWindow w({ "-ShowModeSwitch" });
    MainWindowForm *ui = w.ui();
    QVERIFY(w.openAndConnect());
    w.sender.clearRequests();
    ui->opModePushButton->click();
    QTRY_COMPARE(ui->opMode->text(), "Calibration Mode");
    ui->opModePushButton->click();
    QTRY_COMPARE(ui->opMode->text(), "Pressure Sending Mode");
    QCOMPARE(w.sent(ModeSwitch), QList<QByteArray>({ "\x01", QByteArray(1, 0) }));
}

void TestMainWindow::calibrationCancelledOnACalibrationPage_stillNoticesALostSender()
{
    SenderWindow w;
    QVERIFY(w.openAndConnect());
    bool onCalibrationPage = false;
    ModalAnswer::expect([&](QWidget *modal) {
        auto *wizard = qobject_cast<CalibrationWizard *>(modal);
        WizardDriver driver { w.sender, w.engine(), *wizard };
        driver.fillIntro();
        onCalibrationPage = driver.click(QWizard::NextButton) && driver.runPass(false)
            && QTest::qWaitFor([&] { return w.sender.mode() == CalibrationMode; });
        wizard->reject();
    });
    w.ui()->calButton->click();
    QVERIFY(onCalibrationPage);
    QTRY_COMPARE(w.sender.mode(), PressureSendingMode);
    w.sender.setAppliedPressure(-7); // the main display follows the sender again
    QVERIFY(w.waitForReading(-7));
    w.sender.setSilent(true);
    QVERIFY(w.waitForStatus("Disconnected"));
    QCOMPARE(w.statusText(), "Disconnected");
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
