// A technician's calibration runs against the simulated sender over a pseudo-terminal: requests
// on the wire, the sender's new calibration, captured readings, voltages, mode changes and endings.
#include "VX4calibrationwizard.h"
#include "abstractcalpage.h"
#include "calibrationshared.h"
#include "calsumpage.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "simlink.h"
#include "vx4protocol.h"
#include "wizarddriver.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

class TestCalibrationRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fullRun_sendsRequestsInOrderAndLeavesPassingCalibration();
    void senderInCalibrationMode_skipsAsFoundPass();
    void backAcrossGroupBoundary_switchesModeBack();
    void cancel_givesMinusOneWithoutSavingCalibration();
    void silentSender_closesExecWithMinusTwo();
    void captureBeforeAnyReading_isRefusedUntilOneArrives();
    void repeatedCapture_doesNotSkipTheNextSetPoint();
    void afterRun_engineStillNoticesSilentSender_data();
    void afterRun_engineStillNoticesSilentSender();

private:
    std::unique_ptr<SimLink> link;
    std::unique_ptr<CalibrationWizard> wizard;
    std::unique_ptr<WizardDriver> driver;
    std::unique_ptr<WorkingDir> work;
};

void TestCalibrationRun::init()
{
    work = std::make_unique<WorkingDir>();
    link = std::make_unique<SimLink>();
    link->sender.setCalibrationError(12, 1.02);
}

void TestCalibrationRun::cleanup()
{
    driver.reset();
    wizard.reset();
    link.reset();
    work.reset();
}

// Connects, builds the wizard with the main window's connections and shows it on the intro page.
static void start(std::unique_ptr<SimLink> &link, std::unique_ptr<CalibrationWizard> &wizard,
                  std::unique_ptr<WizardDriver> &driver)
{
    QVERIFY(link->connectEngine());
    link->sender.clearRequests();
    wizard = std::make_unique<CalibrationWizard>(nullptr, link->engine.get());
    wizard->attachSender(link->engine.get());
    driver = std::make_unique<WizardDriver>(
        WizardDriver { link->sender, link->engine.get(), *wizard });
    wizard->show();
    driver->fillIntro();
}

static QList<VX4Message> requestsWithoutPolls(const SimulatedSender &sender)
{
    QList<VX4Message> result;
    for (const VX4Message &m : sender.requests()) {
        if (m.command != AppQuery)
            result.append(m);
    }
    return result;
}

void TestCalibrationRun::fullRun_sendsRequestsInOrderAndLeavesPassingCalibration()
{
    start(link, wizard, driver);
    QVERIFY(driver->click(QWizard::NextButton));
    QCOMPARE(wizard->currentId(), 1);

    QMap<int, int> asFound;
    for (int i = 0; i < 5; ++i) {
        QVERIFY(driver->captureReading(CalPages::SetPointsPsi[i]));
        asFound.insert(1 + i, link->sender.reading());
        QVERIFY(asFound.value(1 + i) != CalPages::SetPointsPsi[i]);
    }
    QCOMPARE(wizard->currentId(), 6);
    QVERIFY(driver->runPass(true));
    QCOMPARE(wizard->currentId(), 11);

    QList<qint16> counts;
    for (int i = 0; i < 5; ++i) {
        QVERIFY(driver->captureReading(CalPages::SetPointsPsi[i] + 3));
        counts.append(link->sender.adCounts());
    }
    QCOMPARE(wizard->currentId(), 16);

    // The wire: one switch into calibration mode, five captures, the save, the switch back and
    // the five A/D readings.
    const QList<VX4Message> wire = requestsWithoutPolls(link->sender);
    const QDateTime when = gCalibrationDateTime;
    QByteArray saved;
    QDataStream(&saved, QIODevice::WriteOnly)
        << quint16(when.date().year()) << quint8(when.date().month()) << quint8(when.date().day())
        << quint8(when.time().hour()) << quint8(when.time().minute());
    const QList<QPair<quint8, QByteArray>> expected {
        { ModeSwitch, "01" },
        { CapturePressure, "000000" },
        { CapturePressure, "0102ee" },
        { CapturePressure, "0205dc" },
        { CapturePressure, "0308ca" },
        { CapturePressure, "040bb8" },
        { SaveCalData, saved.toHex() },
        { GetCalData, "" },
        { ModeSwitch, "00" },
        { GetAdCounts, "" },
        { GetAdCounts, "" },
        { GetAdCounts, "" },
        { GetAdCounts, "" },
        { GetAdCounts, "" },
    };
    QCOMPARE(wire.size(), expected.size());
    for (int i = 0; i < wire.size(); ++i) {
        QCOMPARE(wire.at(i).command, expected.at(i).first);
        QCOMPARE(wire.at(i).payload.toHex(), expected.at(i).second);
    }

    // The sender's new calibration runs through the five applied points, so it now reads true.
    const auto &points = link->sender.savedCalibration();
    QCOMPARE(points.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(points.value(i).setPointPsi, CalPages::SetPointsPsi[i]);
        QCOMPARE(points.value(i).appliedPsi, double(CalPages::SetPointsPsi[i]));
    }
    QCOMPARE(link->sender.calDateTime(),
             QDateTime(when.date(), QTime(when.time().hour(), when.time().minute())));
    QTRY_COMPARE(link->engine->calDateTime(), link->sender.calDateTime());

    for (int i = 0; i < 5; ++i) {
        QCOMPARE(int(gCapturedPressures.value(1 + i)), asFound.value(1 + i));
        QCOMPARE(int(gCapturedPressures.value(11 + i)), CalPages::SetPointsPsi[i] + 3);
        QVERIFY(qAbs(gVerificationVoltages[i] - counts.at(i) * 3.0 / 32767) < 1e-5);
    }
    QCOMPARE(wizard->summaryPage()->certificateHtml().count(QStringLiteral("Passed")), 5);
    QVERIFY(wizard->summaryPage()->certificateHtml().contains(
        QStringLiteral("<tr><td>750</td><td>%1</td><td>753</td>").arg(asFound.value(2))));

    QSignalSpy finished(wizard.get(), &QDialog::finished);
    QVERIFY(driver->click(QWizard::FinishButton));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
    QFile csv(work->path(QStringLiteral("calVoltages.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList fields = QString::fromLocal8Bit(csv.readAll()).trimmed().split(", ");
    QCOMPARE(fields.size(), 8);
    QVERIFY(QDateTime::fromString(fields.at(0), Qt::TextDate).isValid());
    QCOMPARE(fields.mid(1, 2),
             (QStringList { QStringLiteral("OVX4-1234"), QStringLiteral("1.0") }));
    QCOMPARE(fields.at(3 + 2), QString::number(gVerificationVoltages[2], 'f', 5));
}

void TestCalibrationRun::senderInCalibrationMode_skipsAsFoundPass()
{
    link->sender.setMode(CalibrationMode);
    start(link, wizard, driver);
    QVERIFY(driver->click(QWizard::NextButton));
    QCOMPARE(wizard->currentId(), 6);
    QVERIFY(driver->runPass(true));
    QVERIFY(driver->runPass(false));
    QCOMPARE(wizard->currentId(), 16);
    QCOMPARE(requestsWithoutPolls(link->sender).first().command, quint8(CapturePressure));
    QCOMPARE(wizard->summaryPage()->certificateHtml().count(QStringLiteral("<td>N/A</td>")), 5);
}

void TestCalibrationRun::backAcrossGroupBoundary_switchesModeBack()
{
    LogCapture log;
    start(link, wizard, driver);
    log.clear();
    QVERIFY(driver->click(QWizard::NextButton));
    QVERIFY(driver->runPass(false));
    QTRY_COMPARE(link->engine->mode(), CalibrationMode);
    QCOMPARE(log.count(QStringLiteral("Polling stopped.")), 1);

    QVERIFY(driver->click(QWizard::BackButton));
    QCOMPARE(wizard->currentId(), 5);
    QTRY_COMPARE(link->sender.mode(), PressureSendingMode);
    QCOMPARE(log.count(QStringLiteral("Switching to pressure sending mode.")), 1);
    // Readings reach the as-found page again, so it can be captured anew.
    QVERIFY(driver->captureReading(3000));
    QCOMPARE(wizard->currentId(), 6);
    QTRY_COMPARE(link->sender.mode(), CalibrationMode);
}

void TestCalibrationRun::cancel_givesMinusOneWithoutSavingCalibration()
{
    LogCapture log;
    start(link, wizard, driver);
    QVERIFY(driver->click(QWizard::NextButton));
    QVERIFY(driver->runPass(false));
    for (int i = 0; i < 4; ++i)
        QVERIFY(driver->captureCalibration(CalPages::SetPointsPsi[i]));
    QSignalSpy finished(wizard.get(), &QDialog::finished);
    QVERIFY(driver->click(QWizard::CancelButton));
    QCOMPARE(finished.at(0).at(0).toInt(), CalibrationWizard::Cancelled);
    QVERIFY(log.contains(QStringLiteral("CalibrationWizard::reject() called.")));
    QVERIFY(!link->sender.requestCommands().contains(SaveCalData));
    QVERIFY(link->sender.savedCalibration().isEmpty());
}

void TestCalibrationRun::silentSender_closesExecWithMinusTwo()
{
    QVERIFY(link->connectEngine());
    CalibrationWizard w(nullptr, link->engine.get());
    w.attachSender(link->engine.get());
    WizardDriver d { link->sender, link->engine.get(), w };
    QTimer::singleShot(0, &w, [&] {
        d.fillIntro();
        d.click(QWizard::NextButton);
        link->sender.setSilent(true);
    });
    QCOMPARE(w.exec(), CalibrationWizard::SenderLost);
    QCOMPARE(w.currentId(), 1);
}

void TestCalibrationRun::captureBeforeAnyReading_isRefusedUntilOneArrives()
{
    link->sender.setStreamInterval(0);
    start(link, wizard, driver);
    QVERIFY(driver->click(QWizard::NextButton));
    AbstractCalPage *page = wizard->capturePage(1);
    page->captureButton()->click();
    QCOMPARE(wizard->currentId(), 1);
    QVERIFY(!gCapturedPressures.contains(1));
    QCOMPARE(page->statusText(),
             QStringLiteral("Waiting for a pressure reading from the sender..."));

    link->sender.setStreamInterval(50);
    QTRY_VERIFY(page->statusText().isEmpty());
    QVERIFY(driver->captureReading(0));
    QCOMPARE(wizard->currentId(), 2);
}

void TestCalibrationRun::repeatedCapture_doesNotSkipTheNextSetPoint()
{
    start(link, wizard, driver);
    QVERIFY(driver->click(QWizard::NextButton));
    QVERIFY(driver->runPass(false));
    QCOMPARE(wizard->currentId(), 6);
    wizard->capturePage(6)->captureButton()->click();
    wizard->capturePage(6)->captureButton()->click();
    QTRY_COMPARE(wizard->currentId(), 7);
    QTRY_VERIFY(link->engine->queuedMessages().isEmpty());
    QCOMPARE(link->sender.requestCommands().count(CapturePressure), 2);
    QCOMPARE(wizard->currentId(), 7);
    QCOMPARE(wizard->capturePage(7)->statusText(), QString());
}

void TestCalibrationRun::afterRun_engineStillNoticesSilentSender_data()
{
    QTest::addColumn<int>("lastPage");
    QTest::newRow("finished") << 16;
    QTest::newRow("cancelled on a calibration page") << 8;
}

void TestCalibrationRun::afterRun_engineStillNoticesSilentSender()
{
    QFETCH(int, lastPage);
    start(link, wizard, driver);
    QVERIFY(driver->click(QWizard::NextButton));
    QVERIFY(driver->runPass(false));
    while (wizard->currentId() < lastPage) {
        const int id = wizard->currentId();
        const int psi = CalPages::SetPointsPsi[(id - 1) % 5];
        QVERIFY(id <= 10 ? driver->captureCalibration(psi) : driver->captureReading(psi));
    }
    if (wizard->isVisible())
        wizard->reject();
    wizard->detachSender(link->engine.get());
    link->engine->switchMode(PressureSendingMode);
    link->engine->pollForConnectionChange(true);
    QTRY_VERIFY(link->engine->queuedMessages().isEmpty());
    QCOMPARE(link->sender.mode(), PressureSendingMode);

    QSignalSpy lost(link->engine.get(), &VX4Interface::vx4DisconnectedSignal);
    link->sender.setSilent(true);
    QVERIFY(lost.wait(5000));
}

QTEST_MAIN(TestCalibrationRun)
#include "tst_calibrationrun.moc"
