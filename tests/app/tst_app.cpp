// The main window against the simulated sender over a pseudo-terminal: its values and live reading,
// loss and close, port opening and settings, the service actions and their ranges, the calibration
// run and its history, the firmware update and its outcome.
#include "VX4calibrationwizard.h"
#include "VX4interface.h"
#include "abstractcalpage.h"
#include "calibrationhistory.h"
#include "calibrationshared.h"
#include "calsumpage.h"
#include "certificate.h"
#include "modalanswer.h"
#include "packagebytes.h"
#include "senderwindow.h"
#include "settingskeys.h"
#include "vx4protocol.h"
#include "vx4serialnumdialog.h"
#include "wizarddriver.h"

#include <QtTest>
#include <QtWidgets>

using namespace VX4Protocol;

namespace {
// The texts the technician reads about the sender, '|' between them.
QString deviceTexts(MainWindowForm *ui)
{
    QStringList texts;
    for (QLabel *label : { ui->serNum, ui->firmVer, ui->calDate, ui->pressureOffsetValue,
                           ui->currApp, ui->opMode, ui->adStatus, ui->connectionStatus })
        texts << label->text();
    return texts.join('|');
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
const QByteArray EndRecord = ":00000001FF\r\n";
// Eight words from word address 0x40 and one at 0x100.
const QByteArray TwoRows
    = ":10008000341278569A78BCDE00F011E022D033C0EA\r\n:02020000AA55FD\r\n" + EndRecord;

QString write(const QTemporaryDir &dir, const QByteArray &bytes)
{
    QFile file(dir.filePath("written"));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName()
                                                                                : QString();
}

/// Presses Update Firmware and picks `path`; returns the progress dialog.
QProgressDialog *updateFirmware(SenderWindow &w, const QString &path)
{
    w.window->setFileChooser(
        [=](QWidget *, const QString &, const QString &, const QString &) { return path; });
    w.ui()->updateFirmButton->click();
    return w.window->firmwareProgressDialog();
}
} // namespace

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void init() { WizardDriver::startClean(); }
    void sender_showsItsValues_isLostAndRegained_andClosed_data()
    {
        QTest::addColumn<int>("minor"); // of firmware 0.x
        QTest::addColumn<QString>("offset");
        QTest::newRow("0.6, no A/D offset: no zeroing") << 6 << "N/A";
        QTest::newRow("0.7, the first with an A/D offset") << 7 << "-100";
    }

    void sender_showsItsValues_isLostAndRegained_andClosed()
    {
        QFETCH(int, minor);
        QFETCH(QString, offset);
        SenderWindow w({ "-ShowSetSerial", "-ShowModeSwitch", "-ShowAppSwitch" });
        MainWindowForm *ui = w.ui();
        w.sender.setSerialNumber(42);
        w.sender.setFirmwareVersion(0, quint8(minor));
        w.sender.setCalDateTime(QDateTime(QDate(2014, 3, 5), QTime(15, 7)));
        w.sender.setAdOffset(-100);
        w.sender.setAppliedPressure(1500);
        w.sender.setSilent(true); // at first
        ui->serButton->click();
        QVERIFY(w.waitForStatus(QString("No sender answers on %1 (check the cable, the port and "
                                        "the baud rate)")
                                    .arg(w.portPath())));
        w.sender.setSilent(false);
        QVERIFY(w.waitForStatus("Connected") && w.waitForReading(1500));
        const QString shown = QString("OVX4-0042|0.%1|2014-03-05 03:07 PM|%2|Pressure Sending "
                                      "Application|Pressure Sending Mode|Okay|Connected")
                                  .arg(minor)
                                  .arg(offset);
        QTRY_COMPARE(deviceTexts(ui), shown);
        QCOMPARE(ui->zeroPressureButton->isEnabled(), minor >= 7);
        QCOMPARE(ui->pressureOffsetValue->isEnabled(), minor >= 7);
        QCOMPARE(ui->serNum->accessibleName() + '|' + ui->serButton->accessibleName(),
                 "Serial #: OVX4-0042|Close the serial port");
        QVERIFY(ui->psiLCD->isEnabled() && ui->psiLabel->isEnabled());
        w.sender.setAppliedPressure(-12.4);
        QVERIFY(w.waitForReading(-12));

        w.sender.setSilent(true);
        QVERIFY(w.waitForStatus("The sender stopped answering at "));
        QCOMPARE(deviceTexts(ui).section('|', 0, -2), "||||||");
        QVERIFY(!ui->psiLCD->reading() && !ui->psiLCD->isEnabled() && !ui->dpsBox->isEnabled());
        w.sender.setSilent(false);
        QTRY_COMPARE(deviceTexts(ui), shown);
        // In calibration mode and in the bootloader the sender streams no readings.
        ui->opModePushButton->click();
        QVERIFY(w.waitForReading(std::nullopt));
        ui->appChangePushButton->click();
        QVERIFY(w.waitForStatus("Connected") && w.waitForReading(std::nullopt));

        ui->serButton->click();
        QCOMPARE(w.statusText(), "Closed " + w.portPath());
        QCOMPARE(deviceTexts(ui), "|||||||Disconnected");
        QVERIFY(!w.engine() && !ui->psiLCD->reading() && !ui->dpsBox->isEnabled()
                && ui->serComboBox->isEnabled() && ui->serButton->text() == "Open");
    }

    void portOpen_takesTheChosenSettingsOrShowsWhyNot_data()
    {
        QTest::addColumn<QStringList>("choice"); // none: a port that does not exist
        QTest::addColumn<QList<int>>("line"); // as opened: baud, data bits, parity, stop bits, flow
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing port")
            << QStringList() << QList<int>() << "No such file or directory";
        QTest::newRow("fast, even, two, hardware")
            << QStringList { "115200", "7", "Even", "2", "Hardware" }
            << QList<int> { 115200, 7, QSerialPort::EvenParity, 2, QSerialPort::HardwareControl }
            << QString();
    }

    void portOpen_takesTheChosenSettingsOrShowsWhyNot()
    {
        QFETCH(QStringList, choice);
        QFETCH(QList<int>, line);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        SenderWindow w({ "-ShowSerialConfig" }, { dir.filePath("no-such-port") });
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
            QVERIFY(text == "Failed to open " + port && w.statusText() == text
                    && w.ui()->connectionStatus->text()
                        == QString("Could not open %1: %2").arg(port, reason));
        // The port tried last is offered first next time.
        QCOMPARE(MainWindow(QStringList { "tst" }).form()->serComboBox->currentText(), port);
    }

    void zeroPressure_onlyWithinThirtyPsi_data()
    {
        QTest::addColumn<int>("psi");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QString>("box");
        QTest::newRow("30 confirmed") << 30 << QMessageBox::Ok << "Warning.  Disconnect hydraulic";
        QTest::newRow("31 refused") << 31 << QMessageBox::Ok << "Error.\n31PSI is outside";
        QTest::newRow("A/D timeout: no number")
            << 0 << QMessageBox::Ok << "Error.\nThe display shows no live reading";
    }

    void zeroPressure_onlyWithinThirtyPsi()
    {
        QFETCH(int, psi);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(QString, box);
        SenderWindow w;
        w.sender.setAppliedPressure(psi);
        const bool live = !box.contains("no live");
        w.sender.setAdStatus(live ? 0 : 1);
        QVERIFY(w.openAndConnect() && w.waitForReading(live ? psi : std::optional<int>()));
        w.sender.clearRequests();
        QString text;
        ModalAnswer::pressButton(answer, &text);
        w.ui()->zeroPressureButton->click();
        QVERIFY2(text.startsWith(box), qPrintable(text));
        const bool zeroing = box.startsWith("Warning") && answer == QMessageBox::Ok;
        QVERIFY(zeroing || w.sentNone(ZeroPsi));
        QTRY_COMPARE(w.sent(ZeroPsi).size() + w.sent(GetOffset).size(), zeroing ? 2 : 0);
        // The offset is read after the zeroing; the reading is zero from then on.
        QTRY_COMPARE(w.ui()->pressureOffsetValue->text(), QString::number(w.sender.adOffset()));
        QVERIFY(w.waitForReading(zeroing ? 0 : live ? psi : std::optional<int>()));
    }

    void calibrationRun_isStored_andTheSenderWatchedAgain_data()
    {
        QTest::addColumn<bool>("finish"); // else cancelled on the first calibration page
        QTest::addColumn<bool>(
            "historyDown"); // a folder where the SQLite file belongs, until after
        QTest::newRow("cancelled on a calibration page") << false << false;
        QTest::newRow("finished") << true << false;
        QTest::newRow("finished while the history is down") << true << true;
    }

    // A whole run as the technician makes it: the requests in order, the readings true, one stored
    // run whose certificate is the file's, and the sender back under the window's watch.
    void calibrationRun_isStored_andTheSenderWatchedAgain()
    {
        QFETCH(bool, finish);
        QFETCH(bool, historyDown);
        WorkingDir work;
        QFile earlier("calVoltages.csv"); // the rows of earlier runs stay
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier\n")
                && earlier.flush());
        const QString database = HistoryLocation::fromSettings().sqliteFile;
        // A bench that reached its history before holds numbers reserved for when it cannot.
        QString reserved;
        QVERIFY(!historyDown || !CalibrationHistory().drawCertificateNumber(&reserved).isEmpty());
        QVERIFY(!historyDown || (QFile::remove(database) && QDir().mkpath(database)));
        SenderWindow w;
        w.sender.setCalibrationError(12, 1.02);
        QVERIFY(w.openAndConnect());
        w.sender.clearRequests();
        bool ran = false;
        QString told, number;
        // A step stuck in a box of its own ends with a warning naming it, not ctest's time-out.
        QTimer watchdog;
        watchdog.callOnTimeout(&ModalAnswer::closeAll);
        watchdog.start(60000);
        ModalAnswer::expect([&](QWidget *modal) {
            auto *wizard = qobject_cast<CalibrationWizard *>(modal);
            // A step that fails leaves the wizard open: it is closed on the way out.
            const auto closeOnFailure = qScopeGuard([&] {
                if (!ran)
                    ModalAnswer::closeAll();
            });
            if (!wizard)
                return;
            WizardDriver driver { w.sender, w.engine(), *wizard };
            driver.fillIntro();
            ran = driver.click(QWizard::NextButton) && driver.runPass(false)
                && QTest::qWaitFor([&] { return w.sender.mode() == CalibrationMode; });
            if (!finish)
                return wizard->reject();
            ModalAnswer::pressButton(QMessageBox::Ok, nullptr, &told, 60000); // where files went
            // The calibrator's own reading at 750 PSI, as the technician types it.
            wizard->capturePage(12)->referenceBox()->setValue(752.5);
            ran = ran && driver.runPass(true) && driver.runPass(false, 3)
                && QTest::qWaitFor([&] { return wizard->summaryPage()->isComplete(); });
            // The number is drawn once per run, however often the summary is entered.
            number = wizard->summaryPage()->record().certificateNumber;
            ran = ran && driver.click(QWizard::BackButton) && driver.click(QWizard::NextButton)
                && wizard->summaryPage()->record().certificateNumber == number
                && driver.click(QWizard::FinishButton);
        });
        w.ui()->calButton->click();
        QVERIFY(ran);
        QCOMPARE(told.contains("waits in"), historyDown);
        QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
        QCOMPARE(settings.value("calsetup/lastname").toString(), "Smith");
        QVERIFY(!historyDown || QDir(database).removeRecursively());
        CalibrationHistory history; // back: the waiting run is stored, once
        QString error;
        QCOMPARE(history.flushPending(&error), historyDown ? 1 : 0);
        const auto runs = history.runs(QString(), &error);
        QVERIFY2(runs && runs->size() == 1, qPrintable(error));
        const CalibrationRecord &run = runs->first();
        QCOMPARE(run.reason, finish ? QString() : "Cancelled by the technician on page 6");
        const QStringList pdfs = QDir("calibration sheets").entryList({ "*.pdf" });
        QFile pdf("calibration sheets/" + pdfs.value(0));
        QCOMPARE(pdfs.size() == 1 && pdf.open(QIODevice::ReadOnly), finish);
        QCOMPARE(run.pdfSha256, finish ? Certificate::sha256(pdf.readAll()) : QString());
        if (finish) {
            const QDateTime when = run.calibrated;
            const QString saved = QString::asprintf("0e%04x%02x%02x%02x%02x", when.date().year(),
                                                    when.date().month(), when.date().day(),
                                                    when.time().hour(), when.time().minute());
            // MODE SWITCH 0c, CAPTURE PRESSURE 0d (index, PSI), SAVE and GET CAL DATA, A/D
            // counts 16.
            QTRY_COMPARE(
                wireOf(w.sender),
                (QStringList { "0c01", "0d000000", "0d0102ee", "0d0205dc", "0d0308ca", "0d040bb8",
                               saved, "0f", "0c00", "16", "16", "16", "16", "16", "0c00" }));
            QCOMPARE(w.engine()->calDateTime().toString("yyyyMMddhhmm"),
                     when.toString("yyyyMMddhhmm"));
            // As found the sender read 12 PSI at 0 PSI; now it reads true.
            QList<double> errors { run.points[0].asFoundError() };
            for (const CalibrationPoint &p : run.points)
                errors << p.asLeftError();
            QCOMPARE(errors, (QList<double> { 12, 3, 0.5, 3, 3, 3 }));
            QVERIFY(run.certificateNumber == number
                    && number.endsWith(historyDown ? "-000002" : "-000001"));
            // Each page's own voltage: the A/D counts of its pressure, at 3 V full scale.
            QVERIFY(std::is_sorted(gVerificationVoltages.begin(), gVerificationVoltages.end()));
            QVERIFY(qAbs(gVerificationVoltages[4] - w.sender.adCounts() * 3.0 / 32767) < 1e-6);
            QFile csv("calVoltages.csv");
            QVERIFY(csv.open(QIODevice::ReadOnly) && csv.readLine() == "earlier\n"
                    && csv.readAll().count("OVX4-1234, 1.0, ") == 1);
        }
        QTRY_COMPARE(w.sender.mode(), PressureSendingMode);
        w.sender.setAppliedPressure(-7); // the main display follows the sender again
        QVERIFY(w.waitForReading(w.sender.reading()));
        w.sender.setSilent(true);
        QVERIFY(w.waitForStatus("The sender stopped answering at "));
        QCOMPARE(w.statusText(), "Disconnected");
    }

    void firmwarePackageRefusedOrDeclined_sendsNothing_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("box"); // none: the confirmation is declined
        const QByteArray good = packageBytes(TwoRows);
        QTest::newRow("declined") << good << QString();
        QTest::newRow("little-endian mark")
            << QByteArray(good).replace(0, 4, QByteArray::fromHex("04030201"))
            << "Incorrect file type.";
        QTest::newRow("LF alone") << packageBytes(QByteArray(TwoRows).replace("\r\n", "\n"))
                                  << "Corrupted HEX record encountered.  Giving up.";
    }

    void firmwarePackageRefusedOrDeclined_sendsNothing()
    {
        SenderWindow w;
        QVERIFY(w.openAndConnect());
        w.sender.clearRequests();
        QFETCH(QByteArray, file);
        QFETCH(QString, box);
        QString seen;
        ModalAnswer::expect(
            [&](QWidget *modal) { // the confirmation, unless the file is refused first
                auto *first = qobject_cast<QMessageBox *>(modal);
                seen = first->text();
                if (first->button(QMessageBox::Cancel) && !box.isEmpty())
                    ModalAnswer::pressButton(QMessageBox::Ok, &seen);
                first->button(box.isEmpty() ? QMessageBox::Cancel : QMessageBox::Ok)->click();
            });
        QVERIFY(!updateFirmware(w, write(work, file)));
        QVERIFY(box.isEmpty() ? seen.startsWith("Orvelle® Firmware Update:") : seen == box);
        QVERIFY(w.sentNone(AppChange) && w.sent(AppQuery).size() == w.sender.requests().size());
    }

    void firmware_isWrittenAroundTheSendersOtherWords_andTheOutcomeStays_data()
    {
        QTest::addColumn<int>("failures"); // writes the sender refuses in a row; -1: it goes silent
        QTest::addColumn<QString>("after"); // the version the restarted sender reports
        QTest::addColumn<QString>("outcome");
        const QString done = "Firmware update completed successfully!\n";
        QTest::newRow("three per row: written") << 3 << "2.5" << done + "Firmware 1.0 → 2.5";
        QTest::newRow("written, the old firmware still runs") << 0 << "1.0"
                                                              << done
                + "Firmware 1.0 → 1.0, not the package's 2.5: the sender does not run this "
                  "package's firmware.";
        QTest::newRow("across a major version") << 0 << "5.0"
                                                << done
                + "Firmware 1.0 → 5.0, not the package's 2.5: the sender does not run this "
                  "package's firmware.";
        QTest::newRow("silent") << -1 << QString()
                                << "Timeout while waiting for write to program memory response.\n"
                                   "The sender is in its bootloader and its image is incomplete: "
                                   "run the update again.";
    }

    void firmware_isWrittenAroundTheSendersOtherWords_andTheOutcomeStays()
    {
        QFETCH(int, failures);
        QFETCH(QString, after);
        QFETCH(QString, outcome);
        SenderWindow w;
        QVERIFY(w.openAndConnect());
        const QString path = write(work, packageBytes(TwoRows));
        w.sender.setProgramWord(0x48, 0xBEEF); // in the first row, past the image
        w.sender.setProgramWord(0x100, 0x55AA); // the second row holds the image already
        w.sender.failNextWrites(failures); // a row may fail three times
        // What the dialog shows at the moment the engine reports: the report is still on its way.
        QStringList seen;
        connect(w.engine(), &VX4Interface::vx4FirmwareUpdateProgressChanged, this, [&](int row) {
            QProgressDialog *progress = w.window->firmwareProgressDialog();
            seen.append(QString("%1 shows %2, %3")
                            .arg(row)
                            .arg(progress->value())
                            .arg(progress->labelText().section('\n', 1, 1)));
            w.sender.setSilent(failures < 0);
            QTest::keyClick(progress, Qt::Key_Return); // no Abort by Enter
        });
        QString confirmation, sender;
        ModalAnswer::pressButton(QMessageBox::Ok, &confirmation, &sender);
        QProgressDialog *progress = updateFirmware(w, path);
        QVERIFY(confirmation.startsWith("Orvelle® Firmware Update:  Version 2.5\n"));
        QVERIFY(sender.startsWith("Sender OVX4-1234: firmware 1.0 → 2.5\n"));
        QVERIFY(progress && progress->maximum() == 2);
        if (!after.isEmpty())
            w.sender.setFirmwareVersion(after.section('.', 0, 0).toUInt(),
                                        after.section('.', 1).toUInt());
        // One place for the outcome, kept in the dialog until Close and in the window after it.
        QTRY_COMPARE_WITH_TIMEOUT(progress->labelText(), outcome, 20000);
        QVERIFY(progress->isVisible() && !qobject_cast<QMessageBox *>(qApp->activeModalWidget()));
        progress->findChild<QPushButton *>()->click();
        QCOMPARE(w.ui()->outcome->text(), QString(outcome).replace('\n', ' '));
        if (failures < 0) {
            QVERIFY(w.waitForStatus("The sender stopped answering at ")
                    && !w.ui()->dpsBox->isEnabled());
            w.ui()->serButton->click(); // the next action
            QVERIFY(w.ui()->outcome->text().isEmpty());
            return;
        }
        QCOMPARE(w.sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
        // Low byte first, and the sender's own word past the image kept.
        QVERIFY(w.sender.programWord(0x40) == 0x1234 && w.sender.programWord(0x48) == 0xBEEF);
        QCOMPARE(seen,
                 (QStringList { "0 shows -1, Sender OVX4-1234: row 0 of 2",
                                "1 shows 0, Sender OVX4-1234: row 0 of 2",
                                "2 shows 1, Sender OVX4-1234: row 1 of 2, 1 skipped "
                                "(already held the image)" }));
        QVERIFY(!progress->isVisible() && w.waitForStatus("Connected"));
        // One instrument, one history: across a major version the old text is linked to the new.
        const QStringList serials = after.startsWith('5')
            ? QStringList({ "OVX5-1234", "OVX4-1234" })
            : QStringList({ "OVX4-1234" });
        QTRY_COMPARE_WITH_TIMEOUT(CalibrationHistory()
                                      .instrumentSerials(serials.first(), nullptr)
                                      .value_or(QStringList()),
                                  serials, 15000);
    }

    void lostPort_releasesOpenAndReplugOpensAgain()
    {
        // The adapter's name stays while the terminal behind it changes, as a re-plugged one does.
        const QString adapter = work.filePath("ttyVX4");
        SenderWindow w({}, { adapter });
        QVERIFY(w.pty.createLink(adapter));
        w.selectPort(adapter);
        QVERIFY(w.openAndConnect());
        w.pty.vanish();
        QVERIFY(w.waitForStatus("Lost the port " + adapter + ": "));
        QVERIFY(!w.ui()->serButton->isChecked() && w.ui()->serButton->text() == "Open");
        QVERIFY(w.ui()->connectionStatus->text().endsWith("; plug it in and press Open"));
        QVERIFY(!w.engine());

        SimulatedSender replugged;
        PtyEndpoint pty(&replugged);
        QVERIFY(pty.open() && pty.createLink(adapter));
        w.ui()->serButton->click();
        QVERIFY(w.waitForStatus("Connected"));
    }

private:
    QTemporaryDir work;
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
