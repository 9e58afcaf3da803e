// The main window and its parts without a sender: the reading display's liveness rule, what the
// connection status says event by event, a download's progress in words, the log path and the
// debug window's file, and the window as a desktop program: its size, keys and command line.
#include "appidentity.h"
#include "connectionstatus.h"
#include "debugdialog.h"
#include "downloadprogress.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "modalanswer.h"
#include "qlogger.h"
#include "readingdisplay.h"
#include "settingskeys.h"

#include <QtTest>
#include <QtWidgets>

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLogger::install(); }
    void init() { QSettings(SettingsStore::Organisation, SettingsStore::Application).clear(); }
    void readingDisplay_showsOnlyAGoodReadingUnderASecondOld_data()
    {
        QTest::addColumn<QString>("frames"); // psi/A/D status/ms received, ';' between them
        QTest::addColumn<int>("nowMs");
        QTest::addColumn<QString>("spoken"); // the display's accessible name
        QTest::newRow("fresh") << "-12/0/0" << 999 << "Pressure: -12 PSI";
        QTest::newRow("a second old") << "-12/0/0" << 1000 << "Pressure: no live reading";
        QTest::newRow("renewed") << "5/0/0;6/0/900" << 1800 << "Pressure: 6 PSI";
        QTest::newRow("A/D NACK") << "5/0/0;6/2/10" << 10 << "Pressure: no live reading";
        QTest::newRow("after an A/D fault") << "5/1/0;6/0/10" << 10 << "Pressure: 6 PSI";
        QTest::newRow("too wide for four digits") << "12345/0/0" << 0 << "Pressure: 12345 PSI";
    }

    void readingDisplay_showsOnlyAGoodReadingUnderASecondOld()
    {
        QFETCH(QString, frames);
        QFETCH(int, nowMs);
        QFETCH(QString, spoken);
        ReadingDisplay display;
        for (const QString &frame : frames.split(';')) {
            const QStringList f = frame.split('/');
            display.showFrame(f[0].toInt(), quint8(f[1].toInt()), f[2].toInt());
        }
        display.expire(nowMs);
        QCOMPARE(display.accessibleName(), spoken);
        QCOMPARE(display.reading().has_value(), !spoken.contains("no live"));
        // The last good reading leaves by itself once no frame follows.
        QTRY_VERIFY(!display.reading());
    }

    void connectionStatus_saysWhyNoSenderIsConnected_data()
    {
        QTest::addColumn<QString>("events"); // ';' between them
        QTest::addColumn<QString>("text");
        const QString noAnswer
            = "No sender answers on ttyS0 (check the cable, the port and the baud rate)";
        QTest::newRow("wrong port") << "open ttyS0;silence;silence" << noAnswer;
        QTest::newRow("silent sender")
            << "open ttyS0;heard 14:02:08;connected;heard 14:02:11;silence;silence"
            << "The sender stopped answering at 14:02:11";
        QTest::newRow("back") << "open ttyS0;heard 14:02:08;connected;silence;connected"
                              << "Connected";
        QTest::newRow("opened again") << "open ttyS0;heard 14:02:08;connected;closed;open "
                                         "ttyS0;silence"
                                      << noAnswer;
        QTest::newRow("adapter unplugged")
            << "open ttyUSB0;heard 14:02:08;connected;silence;lost ttyUSB0 Input/output error"
            << "Lost the port ttyUSB0: Input/output error; plug it in and press Open";
        QTest::newRow("busy") << "failed ttyS0 port busy: in use by process 42"
                              << "Could not open ttyS0: port busy: in use by process 42";
        QTest::newRow("closed") << "open ttyS0;connected;closed"
                                << "Disconnected";
    }

    void connectionStatus_saysWhyNoSenderIsConnected()
    {
        QFETCH(QString, events);
        QFETCH(QString, text);
        QLabel label;
        ConnectionStatus status(&label);
        for (const QString &event : events.split(';')) {
            const QString name = event.section(' ', 0, 0);
            const QString port = event.section(' ', 1, 1);
            const QString reason = event.section(' ', 2);
            if (name == "open")
                status.opened(port);
            else if (name == "heard")
                status.heard(QTime::fromString(port, "hh:mm:ss"));
            else if (name == "connected")
                status.connected();
            else if (name == "silence")
                status.silence();
            else if (name == "lost")
                status.portLost(port, reason);
            else if (name == "failed")
                status.openFailed(port, reason);
            else
                status.closed();
        }
        QCOMPARE(label.text(), text);
        QCOMPARE(label.accessibleName(), "Connection Status: " + text);
    }

    void downloadProgress_givesRowsSkippedAndTimeLeftAtThePaceSoFar_data()
    {
        QTest::addColumn<QList<int>>("rows"); // done, total, skipped
        QTest::addColumn<int>("elapsedS");
        QTest::addColumn<QString>("text"); // after "Downloading firmware...\nSender OVX4-1234: "
        QTest::newRow("nothing done yet") << QList<int> { 0, 512, 0 } << 3
                                          << "row 0 of 512\nElapsed 0:03, time left not known yet";
        QTest::newRow("a quarter in a minute")
            << QList<int> { 128, 512, 0 } << 65 << "row 128 of 512\nElapsed 1:05, about 3:15 left";
        QTest::newRow("skipped, past an hour")
            << QList<int> { 100, 200, 40 } << 3725
            << "row 100 of 200, 40 skipped (already held the image)\nElapsed 1:02:05, about "
               "1:02:05 left";
    }

    void downloadProgress_givesRowsSkippedAndTimeLeftAtThePaceSoFar()
    {
        QFETCH(QList<int>, rows);
        QFETCH(int, elapsedS);
        QFETCH(QString, text);
        QCOMPARE(DownloadProgress::text("OVX4-1234", rows[0], rows[1], rows[2], elapsedS * 1000),
                 "Downloading firmware...\nSender OVX4-1234: " + text);
    }

    void loggedLine_isStampedAndPassedOnUnchanged_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("source line") << "mainwindow @ 42 : text \"quoted\" -7";
        QTest::newRow("place markers and printf letters") << "%1 %2 100%1 %s %d %n %% 50%";
    }

    void loggedLine_isStampedAndPassedOnUnchanged()
    {
        QFETCH(QString, text);
        QSignalSpy spy(QLogger::instance(), &QLogger::msgReady);
        const QDateTime before = QDateTime::currentDateTime();
        qDebug().noquote() << text;
        QCOMPARE(spy.size(), 1);
        const QString line = spy.at(0).at(0).toString();
        const QDateTime stamp = QDateTime::fromString(line.left(23), "yyyy-MM-dd hh:mm:ss.zzz");
        QVERIFY2(stamp >= before && stamp <= QDateTime::currentDateTime(), qPrintable(line));
        QCOMPARE(line.mid(23), ' ' + text);
    }

    void debugOutputSave_writesTheLinesOrExplainsTheFailure_data()
    {
        // A link to the failing target, so that root meets the failure too.
        QTest::addColumn<QString>("linkTo"); // none: an older file to replace
        QTest::addColumn<QString>("reason");
        QTest::newRow("older file replaced") << QString() << QString();
        QTest::newRow("no folder") << QString("missing/log.txt") << "No such file or directory";
        QTest::newRow("disk full") << QString("/dev/full") << "No space left on device";
    }

    void debugOutputSave_writesTheLinesOrExplainsTheFailure()
    {
        QFETCH(QString, linkTo);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("log");
        QFile older(path);
        QVERIFY(linkTo.isEmpty() ? older.open(QIODevice::WriteOnly) && older.write("an old text") > 0
                                 : QFile::link(QDir(dir.path()).absoluteFilePath(linkTo), path));
        older.close();
        DebugDialog dialog;
        for (int i = 0; reason.isEmpty() && i < 20000; ++i) // it keeps the last 20,000 lines
            dialog.appendPlainText("old");
        dialog.appendPlainText("a\nb 50%");
        QString text, seenReason;
        ModalAnswer::expect([&](QWidget *modal) {
            auto *files = qobject_cast<QFileDialog *>(modal);
            if (!reason.isEmpty())
                ModalAnswer::pressButton(QMessageBox::Ok, &text, &seenReason);
            files->setOption(QFileDialog::DontConfirmOverwrite); // its own question is not ours
            files->setFocus(); // the dialog leaves its name field alone while that has the focus
            files->selectFile(path);
            static_cast<QDialog *>(files)->accept();
        });
        dialog.saveButton()->click();
        QCOMPARE(seenReason, reason);
        QFile file(path);
        QVERIFY(reason.isEmpty() ? file.open(QIODevice::ReadOnly)
                        && file.readAll() == QByteArray("old\n").repeated(19998) + "a\nb 50%"
                                 : text.startsWith("The debug output could not be saved to "));
    }

    void window_keepsItsSize_growsTheReading_andOpensTheDebugOutputBeside()
    {
        MainWindow first(QStringList { "tst" });
        first.resize(720, 560);
        first.close();
        MainWindow w(QStringList { "tst" });
        QCOMPARE(w.size(), QSize(720, 560));
        QTRY_VERIFY(w.form()->psiLCD->width() > 400);
        w.move(0, 0);
        w.form()->actionEnableDebugLogging->setChecked(true);
        QVERIFY(!w.debugOutputWindow()->frameGeometry().intersects(w.frameGeometry()));
    }

    void keyboard_menusQuitAndTheHistoryWindow_andTabPassesReadOnlyText()
    {
        MainWindow w(QStringList { "tst" });
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_V, Qt::AltModifier);
        QTRY_VERIFY(w.form()->menuOptions->isVisible());
        QTest::keyClick(w.form()->menuOptions, Qt::Key_H); // Calibration History
        QTRY_VERIFY(w.calibrationHistoryWindow() && w.calibrationHistoryWindow()->isActiveWindow());
        QTest::keyClick(w.calibrationHistoryWindow(), Qt::Key_Escape);
        QTRY_VERIFY(!w.calibrationHistoryWindow());
        w.form()->actionCalibrationHistory->trigger();
        QVERIFY(QTest::qWaitForWindowActive(w.calibrationHistoryWindow()));
        QTest::keyClick(w.calibrationHistoryWindow(), Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!w.calibrationHistoryWindow());

        w.form()->actionEnableDebugLogging->setChecked(true);
        DebugDialog *debug = w.debugOutputWindow();
        QVERIFY(QTest::qWaitForWindowActive(debug));
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(QApplication::focusWidget() != debug->view());
        }
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!w.isVisible() && !w.debugOutputWindow());
    }

    void commandLine_helpListsTheSwitches_andAnUnknownOneIsReported()
    {
        QProcess utility;
        utility.start(UTILITY_PATH, { "-ShowSetSerial", "--help" });
        QVERIFY(utility.waitForFinished(30000) && utility.exitCode() == 0);
        const QString help = utility.readAllStandardOutput();
        for (const char *name : { Switches::ShowSetSerial, Switches::ShowModeSwitch,
                                  Switches::ShowAppSwitch, Switches::ShowSerialConfig })
            QVERIFY2(help.contains(name), qPrintable(help));

        QSignalSpy log(QLogger::instance(), &QLogger::msgReady);
        QString text;
        ModalAnswer::pressButton(QMessageBox::Ok, &text);
        MainWindow w({ "tst", "-showsetserial", "-ShowModeSwitch" });
        QTRY_COMPARE(text,
                     "The switch \"-showsetserial\" is not recognised and was ignored; "
                     "switches are case-sensitive: did you mean \"-ShowSetSerial\"?");
        QVERIFY(std::any_of(log.begin(), log.end(), [](const QList<QVariant> &line) {
            return line.at(0).toString().contains(
                "not recognised, ignored: QList(\"-showsetserial\")");
        }));
        QVERIFY(w.form()->serNumButton->isHidden() && !w.form()->opModePushButton->isHidden());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
