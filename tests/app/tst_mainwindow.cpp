// The main window against the simulated sender over a pseudo-terminal: open, connect, every value
// and the live reading, silence and reconnection, close, failed opens, the enabling rules.
#include "VX4interface.h"
#include "appidentity.h"
#include "debugdialog.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "qlogger.h"
#include "senderwindow.h"
#include "settingskeys.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void connectedSender_showsEveryValueAndTheLiveReading();
    void silentSender_disconnectsClearsFieldsAndReconnects();
    void close_returnsToTheClosedState();
    void portThatCannotOpen_showsTheReasonAndIsRemembered();
    void openWithoutAnyPort_refusesAndCreatesNothing();
    void rememberedPort_isPreselectedOnlyOnExactMatch();
    void relativeExtraPort_opensFromTheWorkingFolder();

    void bootloaderSender_leavesOnlyTheFirmwareControls();
    void firmwareRule_decidesTheAdOffset_data();
    void firmwareRule_decidesTheAdOffset();
    void connectedSequence_endsWithTheApplicationRule_data();
    void connectedSequence_endsWithTheApplicationRule();
    void invalidCalibrationDate_readsNotCalibrated();

    void adStatus_setsTextAndDisplay_data();
    void adStatus_setsTextAndDisplay();
    void switches_revealExactlyTheirControl_data();
    void switches_revealExactlyTheirControl();

    void debugOutput_opensOnceAndUnchecksWhenClosed();
    void debugOutput_uncheckingClosesTheWindow();
    void aboutBox_namesVersionAndToolkits();
    void startsAtItsOwnSize_andStoresGeometryOnClose();
    void closingTheWindow_closesPortAndDebugWindow();
    void destroyingWithOpenPort_logsAndCloses();
};

void TestMainWindow::init()
{
    QLogger::install();
    clearSettings();
}

void TestMainWindow::connectedSender_showsEveryValueAndTheLiveReading()
{
    LogCapture log;
    SenderWindow w;
    w.sender.setSerialNumber(4321);
    w.sender.setFirmwareVersion(1, 2);
    w.sender.setCalDateTime(QDateTime(QDate(2014, 3, 5), QTime(15, 7)));
    w.sender.setAdOffset(-100);
    w.sender.setAppliedPressure(1500);

    QVERIFY(w.openAndConnect());
    QVERIFY(w.waitForReading(1500));
    auto *ui = w.ui();
    QCOMPARE(w.statusText(), QStringLiteral("Connected"));
    QVERIFY(ui->dpsBox->isEnabled());
    QVERIFY(ui->serButton->isChecked());
    QCOMPARE(ui->serButton->text(), QStringLiteral("Close"));
    QVERIFY(!ui->serComboBox->isEnabled());
    QCOMPARE(ui->serNum->text(), QStringLiteral("OVX4-4321"));
    QCOMPARE(ui->firmVer->text(), QStringLiteral("1.2"));
    QCOMPARE(ui->calDate->text(), QStringLiteral("2014-03-05 03:07 PM"));
    QCOMPARE(ui->pressureOffsetValue->text(), QStringLiteral("-100"));
    QCOMPARE(ui->currApp->text(), QStringLiteral("Pressure Sending Application"));
    QCOMPARE(ui->opMode->text(), QStringLiteral("Pressure Sending Mode"));
    QCOMPARE(ui->adStatus->text(), QStringLiteral("Okay"));

    w.sender.setAppliedPressure(-12);
    QVERIFY(w.waitForReading(-12));

    const QStringList texts = log.textsFrom(QStringLiteral("mainwindow"));
    QVERIFY(texts.contains(QStringLiteral("VX4Connected signal received.")));
    QVERIFY(texts.contains(QStringLiteral("VX4SerialNumberChanged received. 4321")));
    QVERIFY(texts.contains(QStringLiteral("VX4FirmwareVersionChanged signal received.")));
    QVERIFY(texts.contains(QStringLiteral("VX4CalDateTimeChanged signal received.")));
    QVERIFY(texts.contains(QStringLiteral("VX4ADOffsetChanged signal received.")));
    const int modeAt = texts.indexOf(QStringLiteral("VX4ModeChanged signal received."));
    QVERIFY(modeAt >= 0);
    QCOMPARE(texts.value(modeAt + 1), QStringLiteral("VX4 changed to pressure sending mode."));
    const int appAt = texts.lastIndexOf(QStringLiteral("VX4AppChanged signal received."));
    QCOMPARE(texts.value(appAt + 1), QStringLiteral("VX4 changed to pressure sending app."));
}

void TestMainWindow::silentSender_disconnectsClearsFieldsAndReconnects()
{
    SenderWindow w;
    w.sender.setAppliedPressure(700);
    QVERIFY(w.openAndConnect());
    QVERIFY(w.waitForReading(700));

    w.sender.setSilent(true);
    QVERIFY(w.waitForStatus(QStringLiteral("Disconnected")));
    auto *ui = w.ui();
    QCOMPARE(w.statusText(), QStringLiteral("Disconnected"));
    QVERIFY(!ui->dpsBox->isEnabled());
    for (QLabel *label : { ui->serNum, ui->calDate, ui->firmVer, ui->currApp, ui->opMode,
                           ui->pressureOffsetValue, ui->adStatus })
        QVERIFY2(label->text().isEmpty(), qPrintable(label->objectName()));
    QCOMPARE(ui->psiLCD->intValue(), 0);
    // The port stays open and the engine keeps asking.
    QVERIFY(ui->serButton->isChecked());
    QCOMPARE(ui->serButton->text(), QStringLiteral("Close"));
    QVERIFY(w.engine());

    w.sender.setSilent(false);
    QVERIFY(w.waitForStatus(QStringLiteral("Connected")));
    QVERIFY(w.waitForReading(700));
    QCOMPARE(ui->serNum->text(), QStringLiteral("OVX4-1234"));
    QCOMPARE(ui->firmVer->text(), QStringLiteral("1.0"));
    QVERIFY(ui->dpsBox->isEnabled());
}

void TestMainWindow::close_returnsToTheClosedState()
{
    SenderWindow w({ QStringLiteral("-ShowSerialConfig") });
    QVERIFY(w.openAndConnect());
    auto *ui = w.ui();
    QVERIFY(!ui->serConfigButton->isEnabled());

    ui->serButton->click();
    QCOMPARE(w.statusText(), QStringLiteral("Closed ") + w.portPath());
    QVERIFY(!w.engine());
    QVERIFY(!ui->serButton->isChecked());
    QCOMPARE(ui->serButton->text(), QStringLiteral("Open"));
    QVERIFY(ui->serComboBox->isEnabled());
    QVERIFY(ui->serConfigButton->isEnabled());
    QVERIFY(!ui->dpsBox->isEnabled());
    QCOMPARE(ui->connectionStatus->text(), QStringLiteral("Disconnected"));
    QVERIFY(ui->serNum->text().isEmpty());
    QCOMPARE(ui->psiLCD->intValue(), 0);

    // The same window opens the port again.
    QVERIFY(w.openAndConnect());
}

void TestMainWindow::portThatCannotOpen_showsTheReasonAndIsRemembered()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("no-such-port"));
    SenderWindow w({}, { missing });
    QVERIFY(w.selectPort(missing));

    QString text, reason;
    ModalAnswer::pressButton(QMessageBox::Ok, &text, &reason);
    w.ui()->serButton->click();

    QCOMPARE(text, QStringLiteral("Failed to open ") + missing);
    QCOMPARE(reason, QStringLiteral("No such file or directory"));
    QCOMPARE(w.statusText(), QStringLiteral("Failed to open ") + missing);
    QVERIFY(!w.ui()->serButton->isChecked());
    QCOMPARE(w.ui()->serButton->text(), QStringLiteral("Open"));
    QVERIFY(!w.engine());
    QVERIFY(w.ui()->serComboBox->isEnabled());

    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    QCOMPARE(settings.value(QStringLiteral("serialsetup/serialport")).toString(), missing);
}

void TestMainWindow::openWithoutAnyPort_refusesAndCreatesNothing()
{
    SenderWindow w;
    w.ui()->serComboBox->clear();

    QString text;
    ModalAnswer::pressButton(QMessageBox::Ok, &text);
    w.ui()->serButton->click();

    QVERIFY(text.startsWith(QStringLiteral("No serial port was found to open.")));
    QVERIFY(!w.engine());
    QVERIFY(!w.ui()->serButton->isChecked());
    QCOMPARE(w.ui()->serButton->text(), QStringLiteral("Open"));
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    QVERIFY(!settings.contains(QStringLiteral("serialsetup/serialport")));
}

void TestMainWindow::rememberedPort_isPreselectedOnlyOnExactMatch()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("a-port"));
    const QString second = dir.filePath(QStringLiteral("b-port"));
    qputenv("VX4_EXTRA_PORTS", (first + QLatin1Char(':') + second).toLocal8Bit());
    {
        QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
        settings.setValue(QStringLiteral("serialsetup/serialport"), second);
    }
    {
        MainWindow window(QStringList { QStringLiteral("tst") });
        QCOMPARE(window.form()->serComboBox->currentText(), second);
    }
    {
        QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
        settings.setValue(QStringLiteral("serialsetup/serialport"), second.toUpper());
    }
    MainWindow window(QStringList { QStringLiteral("tst") });
    QCOMPARE(window.form()->serComboBox->currentIndex(), 0);
}

void TestMainWindow::relativeExtraPort_opensFromTheWorkingFolder()
{
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    SenderWindow w({}, { QStringLiteral("sim-port") });
    QVERIFY(QFile::link(w.portPath(), dir.filePath(QStringLiteral("sim-port"))));
    QVERIFY(w.selectPort(QStringLiteral("sim-port")));
    const bool connected = w.openAndConnect();
    QDir::setCurrent(before);
    QVERIFY(connected);
    QCOMPARE(w.statusText(), QStringLiteral("Connected"));
}

void TestMainWindow::bootloaderSender_leavesOnlyTheFirmwareControls()
{
    SenderWindow w({ QStringLiteral("-ShowSetSerial"), QStringLiteral("-ShowModeSwitch"),
                     QStringLiteral("-ShowAppSwitch") });
    w.sender.setApp(Bootloader);
    QVERIFY(w.openAndConnect());
    auto *ui = w.ui();
    QCOMPARE(ui->currApp->text(), QStringLiteral("Bootloader Application"));
    for (QWidget *off : std::initializer_list<QWidget *> {
             ui->serNumButton, ui->serNumLabel, ui->calButton, ui->calDateLabel, ui->firmVerLabel,
             ui->zeroPressureButton, ui->pressureOffsetLabel, ui->opModePushButton })
        QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    for (QWidget *on :
         std::initializer_list<QWidget *> { ui->updateFirmButton, ui->appChangePushButton,
                                            ui->currAppLabel, ui->currApp, ui->opModeLabel })
        QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));
    QVERIFY(ui->serNum->text().isEmpty());
    QVERIFY(ui->firmVer->text().isEmpty());
    // A bootloader streams nothing; the display stays at 0.
    QCOMPARE(ui->psiLCD->intValue(), 0);
}

void TestMainWindow::firmwareRule_decidesTheAdOffset_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("hasOffset");
    QTest::newRow("0.0") << 0 << 0 << false;
    QTest::newRow("0.6") << 0 << 6 << false;
    QTest::newRow("0.7") << 0 << 7 << true;
    QTest::newRow("1.0") << 1 << 0 << true;
}

void TestMainWindow::firmwareRule_decidesTheAdOffset()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, hasOffset);
    SenderWindow w;
    QVERIFY(w.openAndConnect());
    auto *ui = w.ui();

    emit w.engine()->vx4FirmwareVersionChanged(quint8(major), quint8(minor));
    QCOMPARE(ui->firmVer->text(), QStringLiteral("%1.%2").arg(major).arg(minor));
    QCOMPARE(ui->zeroPressureButton->isEnabled(), hasOffset);
    QCOMPARE(ui->pressureOffsetLabel->isEnabled(), hasOffset);
    QCOMPARE(ui->pressureOffsetValue->isEnabled(), hasOffset);
    if (!hasOffset)
        QCOMPARE(ui->pressureOffsetValue->text(), QStringLiteral("N/A"));

    // A later application signal enables zeroing again, whatever the version.
    emit w.engine()->vx4AppChanged(PressureSendingApp);
    QVERIFY(ui->zeroPressureButton->isEnabled());
    QVERIFY(ui->pressureOffsetValue->isEnabled());
}

void TestMainWindow::connectedSequence_endsWithTheApplicationRule_data()
{
    QTest::addColumn<int>("minor");
    QTest::addColumn<QString>("offsetText");
    QTest::newRow("0.6 has no offset") << 6 << QStringLiteral("N/A");
    QTest::newRow("0.7 reports its offset") << 7 << QStringLiteral("-7");
}

void TestMainWindow::connectedSequence_endsWithTheApplicationRule()
{
    QFETCH(int, minor);
    QFETCH(QString, offsetText);
    SenderWindow w;
    w.sender.setFirmwareVersion(0, quint8(minor));
    w.sender.setAdOffset(-7);
    QVERIFY(w.openAndConnect());
    auto *ui = w.ui();
    QCOMPARE(ui->firmVer->text(), QStringLiteral("0.%1").arg(minor));
    QCOMPARE(ui->pressureOffsetValue->text(), offsetText);
    // The application signal that ends the connecting sequence comes after the version.
    QVERIFY(ui->zeroPressureButton->isEnabled());
    QVERIFY(ui->pressureOffsetValue->isEnabled());
}

void TestMainWindow::invalidCalibrationDate_readsNotCalibrated()
{
    SenderWindow w;
    QVERIFY(w.openAndConnect());
    QCOMPARE(w.ui()->calDate->text(), QStringLiteral("Not calibrated"));
}

void TestMainWindow::adStatus_setsTextAndDisplay_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("shown");
    QTest::newRow("okay") << 0 << QStringLiteral("Okay") << -12;
    QTest::newRow("timeout") << 1 << QStringLiteral("A/D timeout") << 0;
    QTest::newRow("nack") << 2 << QStringLiteral("A/D NACK") << 0;
    QTest::newRow("config") << 3 << QStringLiteral("A/D Bad Config Byte") << 0;
    QTest::newRow("unknown keeps the text") << 7 << QStringLiteral("Okay") << 0;
}

void TestMainWindow::adStatus_setsTextAndDisplay()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    QFETCH(int, shown);
    SenderWindow w;
    w.sender.setAppliedPressure(-12);
    QVERIFY(w.openAndConnect());
    QVERIFY(w.waitForReading(-12));
    QCOMPARE(w.ui()->adStatus->text(), QStringLiteral("Okay"));

    LogCapture log;
    QSignalSpy frames(w.engine(), &VX4Interface::vx4PressureMsgRdy);
    w.sender.setAdStatus(quint8(status));
    // Two frames: the second surely carries the new status.
    QVERIFY(QTest::qWaitFor([&]() { return frames.size() >= 2; }, 5000));
    QCOMPARE(w.ui()->adStatus->text(), text);
    QCOMPARE(w.ui()->psiLCD->intValue(), shown);
    if (status > 3)
        QVERIFY(log.textsFrom(QStringLiteral("mainwindow"))
                    .contains(QStringLiteral("Unknown A/D status %1 received").arg(status)));
}

void TestMainWindow::switches_revealExactlyTheirControl_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<bool>>("visible"); // serial #, mode, application, configure
    QTest::newRow("none") << QStringList() << QList<bool> { false, false, false, false };
    QTest::newRow("set serial") << QStringList { QStringLiteral("-ShowSetSerial") }
                                << QList<bool> { true, false, false, false };
    QTest::newRow("mode") << QStringList { QStringLiteral("-ShowModeSwitch") }
                          << QList<bool> { false, true, false, false };
    QTest::newRow("application") << QStringList { QStringLiteral("-ShowAppSwitch") }
                                 << QList<bool> { false, false, true, false };
    QTest::newRow("configure") << QStringList { QStringLiteral("-ShowSerialConfig") }
                               << QList<bool> { false, false, false, true };
    QTest::newRow("lower case") << QStringList { QStringLiteral("-showsetserial") }
                                << QList<bool> { false, false, false, false };
    QTest::newRow("double dash") << QStringList { QStringLiteral("--ShowSetSerial") }
                                 << QList<bool> { false, false, false, false };
    QTest::newRow("two, any order")
        << QStringList { QStringLiteral("-ShowAppSwitch"), QStringLiteral("other"),
                         QStringLiteral("-ShowSetSerial") }
        << QList<bool> { true, false, true, false };
}

void TestMainWindow::switches_revealExactlyTheirControl()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<bool>, visible);
    SenderWindow w(arguments);
    auto *ui = w.ui();
    const QList<QPushButton *> controls { ui->serNumButton, ui->opModePushButton,
                                          ui->appChangePushButton, ui->serConfigButton };
    QVERIFY(w.openAndConnect());
    for (int i = 0; i < controls.size(); ++i)
        QCOMPARE(controls.at(i)->isVisible(), visible.at(i));
    ui->serButton->click();
    for (int i = 0; i < controls.size(); ++i)
        QCOMPARE(controls.at(i)->isVisible(), visible.at(i));
}

void TestMainWindow::debugOutput_opensOnceAndUnchecksWhenClosed()
{
    SenderWindow w;
    QSignalSpy lines(QLogger::instance(), &QLogger::msgReady);
    QAction *action = w.ui()->actionEnableDebugLogging;
    action->setChecked(true);
    QPointer<DebugDialog> debug = w.window->debugOutputWindow();
    QVERIFY(debug);
    QVERIFY(debug->isVisible());
    QVERIFY(!debug->parent());

    qDebug() << "tst"
             << "@" << __LINE__ << ":"
             << "a line for the window";
    QVERIFY(debug->view()->toPlainText().endsWith(QStringLiteral(" : a line for the window")));

    debug->close();
    QTRY_VERIFY(!debug);
    QVERIFY(!action->isChecked());
    QVERIFY(!w.window->debugOutputWindow());
    QVERIFY(lines.last().at(0).toString().endsWith(
        QStringLiteral(": destroyed() signal received from debug window.")));
}

void TestMainWindow::debugOutput_uncheckingClosesTheWindow()
{
    SenderWindow w;
    QAction *action = w.ui()->actionEnableDebugLogging;
    action->setChecked(true);
    QPointer<DebugDialog> first = w.window->debugOutputWindow();
    action->setChecked(false);
    QVERIFY(!w.window->debugOutputWindow());
    QVERIFY(!first->isVisible());

    // Opened again before the first has gone: the new window stays in charge.
    action->setChecked(true);
    QPointer<DebugDialog> second = w.window->debugOutputWindow();
    QVERIFY(second && second != first);
    QTRY_VERIFY(!first);
    QCOMPARE(w.window->debugOutputWindow(), second.data());
    QVERIFY(action->isChecked());
}

void TestMainWindow::aboutBox_namesVersionAndToolkits()
{
    SenderWindow w;
    QString text;
    ModalAnswer::pressButton(QMessageBox::Ok, &text);
    w.ui()->actionAbout->trigger();
    QVERIFY(text.startsWith(AppIdentity::applicationName()
                            + QStringLiteral("\nVersion 1.0.6\nBuilt on:  ")));
    QVERIFY(text.endsWith(QStringLiteral("\nBuilt with Qt version:  ") + QT_VERSION_STR
                          + QStringLiteral("\nQt runtime version:  ") + qVersion()
                          + QStringLiteral("\n")));
}

void TestMainWindow::startsAtItsOwnSize_andStoresGeometryOnClose()
{
    {
        QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
        settings.setValue(QStringLiteral("MainWindow/size"), QSize(800, 700));
        settings.setValue(QStringLiteral("MainWindow/position"), QPoint(120, 130));
    }
    SenderWindow w;
    // 459 x 476 unless the content needs more room with this platform's fonts.
    QCOMPARE(w.window->size(), QSize(459, 476).expandedTo(w.window->minimumSizeHint()));
    QCOMPARE(w.window->pos(), QPoint(120, 130));
    QCOMPARE(w.window->windowTitle(), AppIdentity::applicationName() + QStringLiteral(" 1.0.6"));
    QVERIFY(!w.window->windowIcon().isNull());

    w.window->move(150, 160);
    w.window->resize(500, 520);
    w.window->close();
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    QCOMPARE(settings.value(QStringLiteral("MainWindow/position")).toPoint(), QPoint(150, 160));
    QCOMPARE(settings.value(QStringLiteral("MainWindow/size")).toSize(), QSize(500, 520));
}

void TestMainWindow::closingTheWindow_closesPortAndDebugWindow()
{
    SenderWindow w;
    QVERIFY(w.openAndConnect());
    w.ui()->actionEnableDebugLogging->setChecked(true);
    QPointer<DebugDialog> debug = w.window->debugOutputWindow();
    QSignalSpy disconnected(w.engine(), &VX4Interface::vx4DisconnectedSignal);

    QVERIFY(w.window->close());
    QCOMPARE(disconnected.size(), 1);
    QVERIFY(!w.engine());
    QCOMPARE(w.statusText(), QStringLiteral("Disconnected"));
    QTRY_VERIFY(!debug);
}

void TestMainWindow::destroyingWithOpenPort_logsAndCloses()
{
    LogCapture log;
    SenderWindow w;
    QVERIFY(w.openAndConnect());
    QPointer<VX4Interface> engine = w.engine();
    QSignalSpy disconnected(engine.data(), &VX4Interface::vx4DisconnectedSignal);
    w.window.reset();
    QVERIFY(log.textsFrom(QStringLiteral("mainwindow"))
                .contains(QStringLiteral("Closing pressure sender.")));
    QCOMPARE(disconnected.size(), 1);
    QVERIFY(!engine);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
