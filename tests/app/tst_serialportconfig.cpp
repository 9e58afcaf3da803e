// The serial port configuration dialog: the mapping of its items and their log lines, the choice
// reaching the next opened port, Cancel, and 1.5 stop bits refused where the system lacks them.
#include "VX4interface.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "senderwindow.h"
#include "serialportconfigdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QtTest>

class TestSerialPortConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void selection_mapsOntoPortSettings_data();
    void selection_mapsOntoPortSettings();
    void selection_logsEachTextInReadingOrder();

    void configureButton_enabledOnlyAfterAClose();
    void acceptedChoice_reachesTheOpenedPort();
    void cancel_keepsTheSettings_andUnchangedOkRestoresDefaults();
    void oneAndAHalfStopBits_failTheOpenWithTheReason();
    void unsupportedReason_onlyForWhatTheSystemLacks_data();
    void unsupportedReason_onlyForWhatTheSystemLacks();

private:
    /// Opens the dialog from the window, sets the five items by text and presses `button`.
    static void configure(SenderWindow &w, const QStringList &texts,
                          QDialogButtonBox::StandardButton button = QDialogButtonBox::Ok);
    /// Opens the port once and closes it again, which enables "Configure".
    static bool openAndClose(SenderWindow &w);
};

void TestSerialPortConfig::init()
{
    clearSettings();
}

void TestSerialPortConfig::configure(SenderWindow &w, const QStringList &texts,
                                     QDialogButtonBox::StandardButton button)
{
    ModalAnswer::expect([texts, button](QWidget *modal) {
        auto *dialog = qobject_cast<SerialPortConfigDialog *>(modal);
        if (!dialog) {
            qWarning("expected the configuration dialog");
            return;
        }
        const QList<QComboBox *> boxes { dialog->baudRateBox(), dialog->dataBitsBox(),
                                         dialog->parityBox(), dialog->stopBitsBox(),
                                         dialog->flowControlBox() };
        for (int i = 0; i < texts.size(); ++i)
            boxes.at(i)->setCurrentText(texts.at(i));
        dialog->findChild<QDialogButtonBox *>()->button(button)->click();
    });
    w.ui()->serConfigButton->click();
}

bool TestSerialPortConfig::openAndClose(SenderWindow &w)
{
    w.ui()->serButton->click();
    if (!w.engine())
        return false;
    w.ui()->serButton->click();
    return !w.engine();
}

void TestSerialPortConfig::selection_mapsOntoPortSettings_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("flow");
    using P = PortSettings;
    QTest::newRow("slowest, odd, xon/xoff")
        << QString("1200 5 Odd 1 Xon/Xoff").split(' ') << 1200 << 5 << int(P::Parity::Odd)
        << int(P::StopBits::One) << int(P::Flow::XonXoff);
    QTest::newRow("fastest, even, hardware")
        << QString("115200 7 Even 2 Hardware").split(' ') << 115200 << 7 << int(P::Parity::Even)
        << int(P::StopBits::Two) << int(P::Flow::Hardware);
    QTest::newRow("mark, 1.5") << QString("57600 6 Mark 1.5 Off").split(' ') << 57600 << 6
                               << int(P::Parity::Mark) << int(P::StopBits::OneAndHalf)
                               << int(P::Flow::Off);
    QTest::newRow("space") << QString("38400 8 Space 1 Off").split(' ') << 38400 << 8
                           << int(P::Parity::Space) << int(P::StopBits::One) << int(P::Flow::Off);
}

void TestSerialPortConfig::selection_mapsOntoPortSettings()
{
    QFETCH(QStringList, texts);
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, flow);
    SerialPortConfigDialog dialog;
    dialog.baudRateBox()->setCurrentText(texts.at(0));
    dialog.dataBitsBox()->setCurrentText(texts.at(1));
    dialog.parityBox()->setCurrentText(texts.at(2));
    dialog.stopBitsBox()->setCurrentText(texts.at(3));
    dialog.flowControlBox()->setCurrentText(texts.at(4));
    const PortSettings s = dialog.selectedPortSettings();
    QCOMPARE(s.baudRate, baud);
    QCOMPARE(s.dataBits, dataBits);
    QCOMPARE(int(s.parity), parity);
    QCOMPARE(int(s.stopBits), stopBits);
    QCOMPARE(int(s.flowControl), flow);
}

void TestSerialPortConfig::selection_logsEachTextInReadingOrder()
{
    SerialPortConfigDialog dialog;
    dialog.stopBitsBox()->setCurrentText(QStringLiteral("2"));
    LogCapture log;
    dialog.selectedPortSettings();
    QCOMPARE(log.textsFrom(QStringLiteral("serialportconfigdialog")),
             (QStringList {
                 QStringLiteral("baud rate:  \"9600\""), QStringLiteral("data bits:  \"8\""),
                 QStringLiteral("parity:  \"None\""), QStringLiteral("flow control:  \"Off\""),
                 QStringLiteral("stop bits:  \"2\"") }));
}

void TestSerialPortConfig::configureButton_enabledOnlyAfterAClose()
{
    SenderWindow w({ QStringLiteral("-ShowSerialConfig") });
    QVERIFY(w.ui()->serConfigButton->isVisible());
    QVERIFY(!w.ui()->serConfigButton->isEnabled());
    w.ui()->serButton->click();
    QVERIFY(!w.ui()->serConfigButton->isEnabled());
    w.ui()->serButton->click();
    QVERIFY(w.ui()->serConfigButton->isEnabled());
    w.ui()->serButton->click();
    QVERIFY(!w.ui()->serConfigButton->isEnabled());
}

void TestSerialPortConfig::acceptedChoice_reachesTheOpenedPort()
{
    SenderWindow w({ QStringLiteral("-ShowSerialConfig") });
    QVERIFY(openAndClose(w));
    LogCapture log;
    configure(w, QString("115200 7 Even 2 Hardware").split(' '));
    QVERIFY(log.textsFrom(QStringLiteral("mainwindow"))
                .contains(QStringLiteral("Serial configuration button clicked.")));
    QCOMPARE(w.window->nextPortSettings().timeoutMs, 1L);

    w.ui()->serButton->click();
    VX4Interface *port = w.engine();
    QVERIFY(port && port->isOpen());
    QCOMPARE(port->baudRate(), 115200);
    QCOMPARE(port->dataBits(), QSerialPort::Data7);
    QCOMPARE(port->parity(), QSerialPort::EvenParity);
    QCOMPARE(port->stopBits(), QSerialPort::TwoStop);
    QCOMPARE(port->flowControl(), QSerialPort::HardwareControl);
}

void TestSerialPortConfig::cancel_keepsTheSettings_andUnchangedOkRestoresDefaults()
{
    SenderWindow w({ QStringLiteral("-ShowSerialConfig") });
    QVERIFY(openAndClose(w));
    configure(w, QString("19200 7 Odd 2 Hardware").split(' '));
    PortSettings chosen;
    chosen.baudRate = 19200;
    chosen.dataBits = 7;
    chosen.parity = PortSettings::Parity::Odd;
    chosen.stopBits = PortSettings::StopBits::Two;
    chosen.flowControl = PortSettings::Flow::Hardware;
    QCOMPARE(w.window->nextPortSettings(), chosen);

    configure(w, QString("1200 5 None 1 Off").split(' '), QDialogButtonBox::Cancel);
    QCOMPARE(w.window->nextPortSettings(), chosen);

    // The dialog opens at the defaults, not at the settings in force.
    configure(w, {});
    QCOMPARE(w.window->nextPortSettings(), PortSettings());
    QVERIFY(w.openAndConnect());
    QCOMPARE(w.engine()->baudRate(), 9600);
}

void TestSerialPortConfig::oneAndAHalfStopBits_failTheOpenWithTheReason()
{
#ifdef Q_OS_WIN
    QSKIP("Windows serial ports take 1.5 stop bits");
#endif
    SenderWindow w({ QStringLiteral("-ShowSerialConfig") });
    QVERIFY(openAndClose(w));
    configure(w, QString("9600 8 None 1.5 Off").split(' '));

    QString text, reason;
    ModalAnswer::pressButton(QMessageBox::Ok, &text, &reason);
    w.ui()->serButton->click();
    QCOMPARE(text, QStringLiteral("Failed to open ") + w.portPath());
    QCOMPARE(reason,
             QStringLiteral("1.5 stop bits are not supported by the serial ports of this system."));
    QCOMPARE(w.statusText(), QStringLiteral("Failed to open ") + w.portPath());
    QVERIFY(!w.engine());
    QVERIFY(!w.ui()->serButton->isChecked());
}

void TestSerialPortConfig::unsupportedReason_onlyForWhatTheSystemLacks_data()
{
    using P = PortSettings;
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("flow");
    QTest::addColumn<bool>("refused");
#ifdef Q_OS_WIN
    const bool oneAndHalfRefused = false;
#else
    const bool oneAndHalfRefused = true;
#endif
    QTest::newRow("1 stop bit") << int(P::StopBits::One) << int(P::Parity::None)
                                << int(P::Flow::Off) << false;
    QTest::newRow("2 stop bits, space parity, XON/XOFF")
        << int(P::StopBits::Two) << int(P::Parity::Space) << int(P::Flow::XonXoff) << false;
    QTest::newRow("1.5 stop bits") << int(P::StopBits::OneAndHalf) << int(P::Parity::None)
                                   << int(P::Flow::Off) << oneAndHalfRefused;
    QTest::newRow("1.5 stop bits, mark parity, hardware flow")
        << int(P::StopBits::OneAndHalf) << int(P::Parity::Mark) << int(P::Flow::Hardware)
        << oneAndHalfRefused;
}

void TestSerialPortConfig::unsupportedReason_onlyForWhatTheSystemLacks()
{
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(int, flow);
    QFETCH(bool, refused);
    PortSettings settings;
    settings.stopBits = PortSettings::StopBits(stopBits);
    settings.parity = PortSettings::Parity(parity);
    settings.flowControl = PortSettings::Flow(flow);
    QCOMPARE(settings.unsupportedReason(),
             refused ? QStringLiteral(
                 "1.5 stop bits are not supported by the serial ports of this system.")
                     : QString());
}

QTEST_MAIN(TestSerialPortConfig)
#include "tst_serialportconfig.moc"
