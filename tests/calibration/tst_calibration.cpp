// The calibration wizard driven like a technician against the simulated sender over a pty: what the
// sender receives, what a capture takes, the certificate and the files, and each run's stored end.
#include "abstractcalpage.h"
#include "calibrationhistory.h"
#include "calibrationshared.h"
#include "calsumpage.h"
#include "certificate.h"
#include "historyservice.h"
#include "intropage.h"
#include "modalanswer.h"
#include "vx4protocol.h"
#include "wizarddriver.h"

#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

using namespace VX4Protocol;

namespace {
const QList<int> SetPoints { 0, 750, 1500, 2250, 3000 };
const QDateTime Calibrated(QDate(2013, 12, 11), QTime(15, 31, 52));
const QString Sheet = "calibration sheets/OVX4-1234 2013-12-11 15-31-52.pdf";

enum How { Cancel, Loss, Escape }; // Loss: Abort once the silence lasts
enum Obstacle { None, OldLink, OldFolder, CsvBlocked, WorkBlocked, AllBlocked };
enum Answer { Close, Retry, ChooseFolder, Lose }; // Lose: silent, then Abort

void block(Obstacle obstacle)
{
    if (obstacle == OldFolder || obstacle == OldLink)
        QDir().mkpath(obstacle == OldFolder ? Sheet : "calibration sheets");
    if (obstacle == OldLink)
        QFile::link(QDir::currentPath(), Sheet);
    if (obstacle == CsvBlocked || obstacle == AllBlocked)
        QDir().mkdir("calVoltages.csv");
    if (obstacle >= WorkBlocked)
        QFile("calibration sheets").open(QIODevice::WriteOnly);
    if (obstacle == AllBlocked) {
        QDir().mkdir("home");
        QFile("home/Ostrand").open(QIODevice::WriteOnly);
    }
}

void unblock()
{
    QFile::remove("calibration sheets");
    QDir().rmdir("calVoltages.csv");
    QFile::remove("home/Ostrand");
}

// Presses the page's force button, saying Yes to its question; true when one was asked.
bool force(AbstractCalPage *page)
{
    bool asked = false;
    QTimer::singleShot(0, page, [&] { // runs in the question's own loop, if there is one
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        asked = box != nullptr;
        if (box)
            box->button(QMessageBox::Yes)->click();
    });
    page->forceButton()->click();
    QCoreApplication::processEvents();
    return asked;
}

} // namespace

class TestCalibration : public QObject
{
    Q_OBJECT
    QUrl openedUrl;

public slots:
    void openUrl(const QUrl &url) { openedUrl = url; }

private slots:
    void init() { WizardDriver::startClean(); }
    // Every text shows whole, a lone '&' only as a mnemonic; the window keeps one size; no key
    // both captures and advances.
    void texts_fitEveryPageOfOneSize()
    {
        CalibrationRun r;
        QVERIFY(r.start(false));
        r.wizard->setField("calibratorDueDate", QDate::currentDate().addDays(-1)); // longest text
        const QSize size = r.wizard->size();
        for (int id : { 0, 1, 6, 11, 16 }) {
            QVERIFY(id == 0 || r.jumpTo(id));
            QVERIFY(id != 11 || r.driver->hearReading(1));
            r.wizard->currentPage()->layout()->activate(); // for the text a reading just set
            QCOMPARE(r.wizard->size(), size);
            for (QLabel *l : r.wizard->findChildren<QLabel *>()) {
                const QString shown = QString(l->text()).remove("&&");
                const bool fits = l->wordWrap() ? l->height() >= l->heightForWidth(l->width())
                                                : l->width() >= l->sizeHint().width();
                QVERIFY2(!l->isVisible() || (fits && shown.count('&') <= (l->buddy() ? 1 : 0)),
                         qPrintable(QString::number(id) + ": " + l->text()));
            }
            QStringList keys;
            for (QAbstractButton *b : r.wizard->findChildren<QAbstractButton *>())
                keys << (b->isVisible() ? QKeySequence::mnemonic(b->text()).toString() : "");
            keys.removeAll("");
            QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()).size(), keys.size());
        }
    }

    void doubleCapture_movesOnePageOnly_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<quint8>("command");
        QTest::newRow("calibration page") << 6 << quint8(CapturePressure);
        QTest::newRow("verification page") << 11 << quint8(GetAdCounts);
    }

    // The second answer reaches the next page, which did not ask for it: that page must stay, with
    // nothing recorded for it.
    void doubleCapture_movesOnePageOnly()
    {
        QFETCH(int, page);
        QFETCH(quint8, command);
        gVerificationVoltages.fill(-1);
        CalibrationRun r;
        QVERIFY(r.start());
        while (r.wizard->currentId() < page)
            QVERIFY(r.driver->capture(SetPoints[(r.wizard->currentId() - 1) % 5]));
        QVERIFY(r.driver->capture(0, 2));
        QTRY_VERIFY(r.link.engine->queuedMessages().isEmpty());
        QCOMPARE(r.link.sender.requestCommands().count(command), 2);
        QCOMPARE(r.wizard->currentId(), page + 1);
        QCOMPARE(gVerificationVoltages[1], -1.0);
    }

    void capture_takesOnlyAFreshGoodReading_stableOrConfirmed_data()
    {
        QTest::addColumn<int>("status"); // A/D status of the frames; 0: a reading from before Back
        QTest::addColumn<QString>("notice");
        QTest::newRow("A/D bad configuration") << 3 << "\"A/D Bad Config Byte\"";
        QTest::newRow("reading from before Back") << 0 << "Waiting for a pressure reading";
    }

    // Readings never count as stable here: only a confirmed capture takes one, marked unstable.
    void capture_takesOnlyAFreshGoodReading_stableOrConfirmed()
    {
        QFETCH(int, status);
        QFETCH(QString, notice);
        QSettings("Ostrand", "VX Lite Tarrow").setValue("calsetup/stableWindowMs", 3600000);
        CalibrationRun r;
        QVERIFY(r.start());
        AbstractCalPage *first = r.wizard->capturePage(1);
        // Nothing is taken until the technician has typed what the reference reads.
        QVERIFY(r.driver->hearReading(3) && !first->forceButton()->isEnabled());
        first->referenceBox()->setValue(0);
        if (status == 0) {
            QVERIFY(r.driver->hearReading(14) && force(first));
            QVERIFY(r.driver->click(QWizard::BackButton));
        } else {
            r.link.sender.setAdStatus(quint8(status));
            QTRY_VERIFY(first->statusText().contains(notice));
        }
        // At once: no reading can arrive between becoming current and the press.
        QVERIFY(!force(first));
        QCOMPARE(r.wizard->currentId(), 1);
        QVERIFY2(first->statusText().contains(notice), qPrintable(first->statusText()));
        QCOMPARE(gCapturedPressures.value(1, -1), status == 0 ? 14 : -1);

        r.link.sender.setAdStatus(0);
        QVERIFY(r.driver->hearReading(-20) && !first->captureButton()->isEnabled());
        QVERIFY(force(first));
        QCOMPARE(gCapturedPressures.value(1), -20);
        QCOMPARE(gCaptureKinds.value(1), Capture::Unstable);
    }

    void silence_isWaitedOutOnlyForTheSameSenderInItsMode_data()
    {
        QTest::addColumn<QString>("meanwhile"); // the simulator's controls while it is silent
        QTest::addColumn<bool>("retry"); // silent until the wizard offers Retry
        QTest::addColumn<QString>("sent"); // after the sender's identity was read again
        QTest::addColumn<int>("page"); // where the run goes on
        QTest::addColumn<QString>("notice");
        QTest::newRow("same sender") << "" << false << "0d0102ee" << 8 << "";
        QTest::newRow("same sender, after Retry") << "" << true << "0d0102ee" << 8 << "";
        QTest::newRow("restarted") << "mode pressure" << false << "0c01" << 6 << "restarted";
        QTest::newRow("swapped") << "serial 42" << false << "0c00" << 1 << "(OVX4-0042)";
    }

    // The capture on Calibration Page 2 goes unanswered; then the sender answers again.
    void silence_isWaitedOutOnlyForTheSameSenderInItsMode()
    {
        QFETCH(QString, meanwhile);
        QFETCH(bool, retry);
        QFETCH(QString, sent);
        QFETCH(int, page);
        QFETCH(QString, notice);
        CalibrationRun r;
        QVERIFY(r.start() && r.driver->runPass(false) && r.driver->capture(0) && r.settle());
        AbstractCalPage *second = r.wizard->capturePage(7);
        QVERIFY(r.link.control("silent on"));
        second->captureButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(second->statusText().startsWith("Waiting for the sender"), 10000);
        QVERIFY(!second->captureButton()->isEnabled() && r.wizard->isVisible());
        QString offered;
        if (retry)
            ModalAnswer::pressButton(QMessageBox::Retry, &offered, nullptr, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(offered.startsWith("The sender has not answered") || !retry,
                                 30000);
        r.link.sender.clearRequests();
        QVERIFY(r.link.control(meanwhile + ";silent off"));
        QTRY_COMPARE_WITH_TIMEOUT(r.wizard->currentId(), page, 10000);
        QVERIFY(r.settle());
        // The identity read on connecting, then the capture lost, or the page's mode.
        QCOMPARE(wireOf(r.link.sender).join(' '), "10 12 0f 0b 18 " + sent);
        QVERIFY2(r.wizard->capturePage(page)->statusText().contains(notice),
                 qPrintable(r.wizard->capturePage(page)->statusText()));
        QCOMPARE(gCapturedPressures.isEmpty(), page == 1);
    }

    // A steady 3000 PSI on the 0 PSI page is most likely the wrong pressure.
    void captureFarFromTheSetPoint_isTakenOnlyWhenConfirmed()
    {
        CalibrationRun r;
        QVERIFY(r.start() && r.driver->hearReading(3000));
        AbstractCalPage *first = r.wizard->capturePage(1);
        first->referenceBox()->setValue(0);
        for (auto answer : { QMessageBox::No, QMessageBox::Yes }) {
            QString asked;
            QTRY_VERIFY(first->captureButton()->isEnabled());
            ModalAnswer::pressButton(answer, &asked);
            first->captureButton()->click();
            QVERIFY(asked.contains("3000 PSI, far from this page's set point of 0 PSI"));
            QCOMPARE(gCapturedPressures.value(1, -1), answer == QMessageBox::Yes ? 3000 : -1);
        }
    }

    void calibrationPage_capturesBeforeTheSettleTimeOnlyConfirmed()
    {
        QSettings("Ostrand", "VX Lite Tarrow").setValue("calsetup/settleSeconds", 3600);
        CalibrationRun r;
        r.link.sender.setMode(CalibrationMode);
        QVERIFY(r.start());
        AbstractCalPage *page = r.wizard->capturePage(CalPages::FirstCalibration);
        QVERIFY(!page->captureButton()->isEnabled() && force(page));
        QTRY_COMPARE(r.wizard->currentId(), CalPages::FirstCalibration + 1);
        QCOMPARE(wireOf(r.link.sender), QStringList { "0d000000" });
    }

    // Back across a group boundary leaves the sender in the page's mode even while the switch there
    // is unanswered; readings taken under a calibration being repeated must be taken again.
    void backAcrossGroups_keepsModeAndVoidsStaleVerification()
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

    void printOrFinish_writesFilesWhereTheyFit_orAsksWhereTo_data()
    {
        QTest::addColumn<bool>("print"); // else Finish
        QTest::addColumn<int>("obstacle");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("pdfIn"); // none: no certificate written
        QTest::addColumn<QString>("csvIn");
        QTest::addColumn<QString>("seen"); // the boxes' texts and dialogs' titles, '|' between
        const QString sheets = "calibration sheets", home = "home/Ostrand",
                      printed = "^Print Document$";
        // Replaced also where tests run as root, who may write over a read-only file.
        QTest::newRow("print over a link") << true << int(OldLink) << 0 << sheets << "." << printed;
        QTest::newRow("print, folder in the way") << true << int(OldFolder) << 0 << QString() << "."
                                                  << "be written.*\\|Print";
        QTest::newRow("print, csv blocked")
            << true << int(CsvBlocked) << 0 << sheets << home << printed;
        QTest::newRow("print, work blocked")
            << true << int(WorkBlocked) << 0 << home + "/" + sheets << "." << printed;
        QTest::newRow("finish, retried once cleared")
            << false << int(AllBlocked) << int(Retry) << sheets << "."
            << "voltages.*as a PDF file";
        QTest::newRow("finish, chosen folder")
            << false << int(AllBlocked) << int(ChooseFolder) << "chosen"
            << "chosen"
            << "as a PDF";
        QTest::newRow("finish given up")
            << false << int(AllBlocked) << int(Close) << QString() << QString() << "as a PDF";
        // The wizard closes the dialogs it opened, so that none outlives the sender.
        const QString lost = "\\|The sender has not answered since";
        QTest::newRow("sender lost, print dialog")
            << true << int(None) << int(Lose) << sheets << "."
            << "^Print Document" + lost;
        QTest::newRow("sender lost, Finish's box")
            << false << int(AllBlocked) << int(Lose) << QString() << QString()
            << "as a PDF[^|]*" + lost;
    }

    void printOrFinish_writesFilesWhereTheyFit_orAsksWhereTo()
    {
        QFETCH(bool, print);
        QFETCH(int, obstacle);
        QFETCH(int, answer);
        QFETCH(QString, pdfIn);
        QFETCH(QString, csvIn);
        QFETCH(QString, seen);
        CalibrationRun r;
        QVERIFY(r.start());
        gCalibrationDateTime = Calibrated;
        QVERIFY(r.jumpTo(CalPages::Summary));
        QTRY_VERIFY(r.wizard->summaryPage()->isComplete());
        block(Obstacle(obstacle));
        r.wizard->summaryPage()->setFolderChooser(
            [](QWidget *, const QString &) { return QDir().mkpath("chosen") ? "chosen" : ""; });
        QStringList opened;
        QTimer answerer; // every box and dialog is answered as the row says, or closed
        QPointer<QDialog> answered; // once each
        answerer.callOnTimeout([&] {
            auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!modal || !modal->isVisible() || modal == answered)
                return;
            answered = modal;
            auto *box = qobject_cast<QMessageBox *>(modal);
            opened.append(box ? box->text() : modal->windowTitle());
            if (answer == Lose && opened.size() == 1)
                return r.link.sender.setSilent(true);
            if (answer == Retry)
                unblock();
            const QString button = opened.last().startsWith("The certificate was saved")
                ? "Open Folder"
                : QStringList { "", "Retry", "Choose Folder...", "Abort" }[answer];
            for (QAbstractButton *b : box ? box->buttons() : QList<QAbstractButton *>())
                if (!button.isEmpty() && b->text().remove('&') == button)
                    return b->click();
            modal->reject();
        });
        answerer.start(20);
        if (print)
            r.wizard->summaryPage()->findChild<QPushButton *>("printButton")->click();
        else
            QVERIFY(r.driver->click(QWizard::FinishButton));
        QVERIFY2(opened.join('|').contains(
                     QRegularExpression(seen, QRegularExpression::DotMatchesEverythingOption)),
                 qPrintable(opened.join('|')));
        QTRY_COMPARE_WITH_TIMEOUT(r.wizard->isVisible(),
                                  answer != Lose && (print || pdfIn.isEmpty()), 20000);
        QCOMPARE(r.wizard->result() == CalibrationWizard::SenderLost, answer == Lose);
        QVERIFY(!QApplication::activeModalWidget());
        const QStringList pdfs = QDir(pdfIn).entryList({ "*.pdf" });
        QCOMPARE(pdfs.size(), pdfIn.isEmpty() ? 0 : 1);
        QVERIFY(pdfIn.isEmpty() || pdfText(QDir(pdfIn).filePath(pdfs[0])).contains("OVX4-1234"));
        QFile csv(QDir(csvIn).filePath("calVoltages.csv"));
        QVERIFY(csvIn.isEmpty()
                || (csv.open(QIODevice::ReadOnly) && csv.readAll().count("OVX4-1234, 1.0") == 1));
        if (print || pdfIn.isEmpty())
            return;
        // Finish tells where the files went and opens the certificate's folder on the desktop.
        QDesktopServices::setUrlHandler("file", this, "openUrl");
        r.wizard->tellOutcome();
        QVERIFY2(opened.last().contains(QDir(pdfIn).absoluteFilePath(pdfs[0]))
                     && opened.last().contains(QFileInfo(csv).absoluteFilePath()),
                 qPrintable(opened.last()));
        QCOMPARE(openedUrl, QUrl::fromLocalFile(QDir(pdfIn).absolutePath()));
    }

    void intro_offersNextOnlyForARunThatCanBeTrusted_data()
    {
        QTest::addColumn<QString>("field"); // none: the lab's policy is stored
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("reason"); // why Next is not offered; none: it is
        QTest::newRow("due date not entered")
            << "calibratorDueDate" << QVariant(IntroPage::UnsetDate)
            << "Enter the pressure calibrator's due date.";
        QTest::newRow("reference past its due date")
            << "calibratorDueDate" << QVariant(QDate::currentDate().addDays(-1))
            << "is past its due date";
        QTest::newRow("the lab's policy") << QString() << QVariant() << QString();
    }

    void intro_offersNextOnlyForARunThatCanBeTrusted()
    {
        QFETCH(QString, field);
        QFETCH(QVariant, value);
        QFETCH(QString, reason);
        const LabPolicy lab { 7.5, DecisionRule::Guarded, "P-17", "Ann", QDateTime() };
        QString error;
        QVERIFY2(!field.isEmpty() || CalibrationHistory().setPolicy(lab, &error),
                 qPrintable(error));
        CalibrationRun r;
        QVERIFY(r.start(false));
        QTRY_VERIFY(!r.wizard->history()->busy()); // the policy has been read
        if (!field.isEmpty())
            r.wizard->setField(field, value);
        QTRY_COMPARE(r.wizard->button(QWizard::NextButton)->isEnabled(), reason.isEmpty());
        QVERIFY2(r.wizard->introPage()->blockedReason().contains(reason),
                 qPrintable(r.wizard->introPage()->blockedReason()));
        // Not the technician's choice: the lab's, as the history holds it.
        QCOMPARE(r.wizard->field("tolerancePsi").toDouble(), field.isEmpty() ? 7.5 : 10);
        QCOMPARE(r.wizard->field("procedureId").toString(), field.isEmpty() ? "P-17" : "");
    }

    void leavingWithoutFinish_writesNothingButTheStoredRun_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("how");
        QTest::addColumn<QString>("stored"); // the run's outcome and reason; none: not stored
        const QString cancelled = "cancelled: Cancelled by the technician on page 10";
        QTest::newRow("intro, Cancel") << 0 << int(Cancel) << QString();
        QTest::newRow("last calibration page, Cancel") << 10 << int(Cancel) << cancelled;
        QTest::newRow("summary, sender lost")
            << 16 << int(Loss) << "aborted: The sender stopped answering on page 16";
        QTest::newRow("last calibration page, Escape") << 10 << int(Escape) << cancelled;
        // The sender holds this run's calibration from then on: drift is measured from it.
        QTest::newRow("after the calibration was saved, Cancel")
            << 11 << int(Cancel) << "cancelled: Cancelled by the technician on page 11, saved";
    }

    // Nothing to the sender (once its answers are in), no voltage row, no intro settings.
    void leavingWithoutFinish_writesNothingButTheStoredRun()
    {
        QFETCH(int, page);
        QFETCH(int, how);
        QFETCH(QString, stored);
        CalibrationRun r;
        QVERIFY(r.start(false));
        const bool saved = page == CalPages::FirstVerification;
        QVERIFY(page == 0 || (r.driver->click(QWizard::NextButton) && r.jumpTo(saved ? 10 : page)));
        QVERIFY(!saved || r.driver->capture(3000));
        QVERIFY(r.settle());
        if (how == Cancel)
            QVERIFY(r.driver->click(QWizard::CancelButton));
        QString asked;
        if (how >= Loss)
            ModalAnswer::pressButton(how == Loss ? QMessageBox::Abort : QMessageBox::Yes, &asked,
                                     nullptr, 30000);
        if (how == Escape)
            QTest::keyClick(r.wizard.get(), Qt::Key_Escape);
        r.link.sender.setSilent(how == Loss);
        QTRY_VERIFY_WITH_TIMEOUT(!r.wizard->isVisible(), 20000);
        QCOMPARE(asked.left(11), QStringList({ "", "The sender ", "Discard thi" })[how]);
        QCOMPARE(r.wizard->result(),
                 how == Loss ? CalibrationWizard::SenderLost : CalibrationWizard::Cancelled);
        r.link.sender.setSilent(false);
        QVERIFY(r.settle());
        QCOMPARE(r.link.sender.requestCommands().contains(SaveCalData), saved);
        QVERIFY(!QFile::exists("calVoltages.csv")
                && !QFile::exists("home/Ostrand/calVoltages.csv"));
        QCOMPARE(QSettings("Ostrand", "VX Lite Tarrow").contains("calsetup/firstname"), page != 0);
        QStringList runs;
        for (const CalibrationRecord &run :
             CalibrationHistory().runs(QString(), nullptr).value_or(QList<CalibrationRecord>()))
            runs << CalibrationRecord::outcomeText(run.outcome) + ": " + run.reason
                    + (run.calibrationSaved ? ", saved" : "");
        QCOMPARE(runs, stored.isEmpty() ? QStringList() : QStringList { stored });
    }
};

QTEST_MAIN(TestCalibration)
#include "tst_calibration.moc"
