// The main window and its parts: the reading display's liveness rule, what the connection status
// says event by event, a download's progress in words, the log path and the debug window's file,
// the window as a desktop program (its size, keys and command line), the service actions,
// which send nothing to a sender lost or replaced while their dialog was open, and the Help
// menu: the guide built beside the program and the licence.
#include "VX4interface.h"
#include "appidentity.h"
#include "connectionstatus.h"
#include "debugdialog.h"
#include "downloadprogress.h"
#include "helpmenu.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "modalanswer.h"
#include "qlogger.h"
#include "readingdisplay.h"
#include "senderwindow.h"
#include "settingskeys.h"
#include "vx4protocol.h"
#include "vx4serialnumdialog.h"

#include <QtTest>
#include <QtWidgets>

using namespace VX4Protocol;

enum Change { Kept, LostAndBack, Reopened };

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

    void connectionStatus_saysWhyNoSenderIsConnected()
    {
        QLabel label;
        ConnectionStatus status(&label);
        status.opened("ttyS0");
        status.silence();
        const QString noAnswer
            = "No sender answers on ttyS0 (check the cable, the port and the baud rate)";
        QCOMPARE(label.text(), noAnswer);
        status.heard(QTime(14, 2, 11));
        status.connected();
        status.silence();
        QCOMPARE(label.text(), "The sender stopped answering at 14:02:11");
        QCOMPARE(label.accessibleName(), "Connection Status: " + label.text());
        status.opened("ttyS0"); // again: nothing has answered on it since
        status.silence();
        QCOMPARE(label.text(), noAnswer);
    }

    void downloadProgress_givesRowsSkippedAndTimeLeftAtThePaceSoFar_data()
    {
        QTest::addColumn<QList<int>>("rows"); // done, total, skipped
        QTest::addColumn<int>("elapsedS");
        QTest::addColumn<QString>("text"); // after "Downloading firmware...\nSender OVX4-1234: "
        QTest::newRow("nothing done yet") << QList<int> { 0, 512, 0 } << 3
                                          << "row 0 of 512\nElapsed 0:03, time left not known yet";
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

    void loggedLine_isStampedAndPassedOnUnchanged()
    {
        const QString text = "mainwindow @ 42 : \"quoted\" -7 %1 %2 100%1 %s %d %n %% 50%";
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
        QTest::newRow("disk full") << QString("/dev/full") << "No space left on device";
    }

    void debugOutputSave_writesTheLinesOrExplainsTheFailure()
    {
        QFETCH(QString, linkTo);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("log");
        QFile older(path);
        QVERIFY(linkTo.isEmpty()
                    ? older.open(QIODevice::WriteOnly) && older.write("an old text") > 0
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

    void desktop_sizeKeptReadingGrows_keysWork_andTheDebugOutputOpensBeside()
    {
        MainWindow first(QStringList { "tst" });
        first.resize(720, 560);
        first.close();
        MainWindow w(QStringList { "tst" });
        QCOMPARE(w.size(), QSize(720, 560));
        QTRY_VERIFY(w.form()->psiLCD->width() > 400);
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

        w.move(0, 0);
        w.form()->actionEnableDebugLogging->setChecked(true);
        DebugDialog *debug = w.debugOutputWindow();
        QVERIFY(!debug->frameGeometry().intersects(w.frameGeometry()));
        QVERIFY(QTest::qWaitForWindowActive(debug));
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(QApplication::focusWidget() != debug->view());
        }
        QTest::keyClick(debug, Qt::Key_Q, Qt::ControlModifier); // from any of its windows
        QTRY_VERIFY(!w.isVisible() && !w.debugOutputWindow());
    }

    void commandLine_helpListsTheSwitches_andAnUnknownOneIsReported()
    {
        QProcess utility;
        utility.start(UTILITY_PATH, { "-ShowSetSerial", "--help" });
        QVERIFY(utility.waitForFinished(30000) && utility.exitCode() == 0);
        const QString help = utility.readAllStandardOutput();
        QVERIFY2(help.contains("-ShowSetSerial ") && help.contains("-ShowSerialConfig "),
                 qPrintable(help));

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

    void serviceAction_sendsOnlyWhatIsConfirmedToTheSameSender_data()
    {
        QTest::addColumn<QString>("typed"); // none: the zero box
        QTest::addColumn<QMessageBox::StandardButton>("answer"); // to the box after Ok
        QTest::addColumn<int>("change"); // to the sender while the dialog is open
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("sent"); // SET SERIAL's payload; none: nothing sent
        const QString question = "Change OVX4-1234 to OVX4-0042?";
        QTest::newRow("empty") << "" << QMessageBox::Ok << int(Kept)
                               << "Enter the new serial number." << QByteArray();
        QTest::newRow("confirmed")
            << "42" << QMessageBox::Yes << int(Kept) << question << QByteArray::fromHex("002A");
        QTest::newRow("too large")
            << "65536" << QMessageBox::Ok << int(Kept)
            << "The serial number 65536 is too large.\nSerial numbers range from 0 to 65535."
            << QByteArray();
        QTest::newRow("sender lost and back")
            << "42" << QMessageBox::Yes << int(LostAndBack) << question << QByteArray();
        QTest::newRow("port reopened")
            << "42" << QMessageBox::Yes << int(Reopened) << question << QByteArray();
        QTest::newRow("zero, port reopened") << QString() << QMessageBox::Ok << int(Reopened)
                                             << "Warning.  Disconnect hydraulic pressure source "
                                                "before proceeding!"
                                             << QByteArray();
    }

    void serviceAction_sendsOnlyWhatIsConfirmedToTheSameSender()
    {
        QFETCH(QString, typed);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(int, change);
        QFETCH(QString, box);
        QFETCH(QByteArray, sent);
        SenderWindow w({ "-ShowSetSerial" });
        QVERIFY(w.openAndConnect());
        QString seen;
        bool changed = change != LostAndBack; // lost: once the window has seen it
        ModalAnswer::expect([&](QWidget *modal) {
            if (change == Reopened) {
                w.ui()->serButton->click();
                w.ui()->serButton->click();
            } else if (change == LostAndBack) {
                w.sender.setSilent(true);
                changed = w.waitForStatus("The sender stopped answering at ");
                w.sender.setSilent(false);
            }
            changed = changed && w.waitForStatus("Connected");
            w.sender.clearRequests();
            auto *zeroBox = qobject_cast<QMessageBox *>(modal);
            if (zeroBox) {
                seen = zeroBox->text();
                return zeroBox->button(QMessageBox::Ok)->click();
            }
            auto *dialog = qobject_cast<VX4SerialNumDialog *>(modal);
            QTest::keyClicks(dialog->serialNumberField(), typed);
            ModalAnswer::expect([&](QWidget *next) { // the refusal or the question
                auto *question = qobject_cast<QMessageBox *>(next);
                seen = question->text();
                if (QAbstractButton *button = question->button(answer))
                    button->click();
                else
                    question->reject();
            });
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            if (dialog->isVisible()) // refused or declined: the technician may type again
                dialog->reject();
        });
        (typed.isNull() ? w.ui()->zeroPressureButton : w.ui()->serNumButton)->click();
        QVERIFY(changed);
        QCOMPARE(seen, box);
        if (!sent.isEmpty())
            QTRY_COMPARE(w.sent(SetSerial), QList<QByteArray> { sent });
        else
            QVERIFY(QTest::qWaitFor([&] { return w.engine()->queuedMessages().isEmpty(); })
                    && w.sent(typed.isNull() ? ZeroPsi : SetSerial).isEmpty()); // once all answered
        QCOMPARE(w.statusText().contains("not sent"), change != Kept);
    }

    // Last: the program's identity it applies stays for the rest of the process.
    void helpMenu_opensTheGuideAndShowsTheLicence()
    {
        AppIdentity::apply();
        QDesktopServices::setUrlHandler("file", this, "openUrl");
        MainWindow window;
        MainWindowForm *form = window.form();
        QCOMPARE(form->menuAbout->actions(),
                 (QList<QAction *> { form->actionUserGuide, form->actionAbout }));
        // Without the guide a box would wait for an answer.
        QVERIFY2(QFileInfo::exists(HelpMenu::userGuidePath()),
                 qPrintable(HelpMenu::userGuidePath()));
        form->actionUserGuide->trigger();
        QFile guide(opened.toLocalFile());
        QVERIFY(guide.open(QIODevice::ReadOnly));
        QVERIFY(guide.readAll().contains("<h2>Without a window: <code>vx4ctl</code></h2>"));
        QString text;
        QString licence;
        ModalAnswer::expect([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            text = box->text();
            licence = box->detailedText();
            box->accept();
        });
        form->actionAbout->trigger();
        QVERIFY(text.startsWith(AppIdentity::applicationName()) && text.contains("MIT licence"));
        QFile file(SOURCE_DIR "/LICENSE");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(licence, QString::fromUtf8(file.readAll()));
        QCOMPARE(QGuiApplication::desktopFileName() + ".desktop",
                 QFileInfo(SOURCE_DIR "/packaging/orvelle-utility.desktop").fileName());
    }

public slots:
    void openUrl(const QUrl &url) { opened = url; }

private:
    QUrl opened;
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
