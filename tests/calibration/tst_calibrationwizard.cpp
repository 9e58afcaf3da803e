// The wizard's frame and intro page on the offscreen platform: pages and titles, the remembered
// entries under "calsetup", when Next is offered, the calibration date, the hand-off boxes, and
// each page's pass, title and set point with its images.
#include "VX4calibrationwizard.h"
#include "abstractcalpage.h"
#include "calibrationshared.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "simlink.h"
#include "wizarddriver.h"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QtTest>

class TestCalibrationWizard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void emptySettings_nextOnlyWhenFilled_settingsWrittenOnNext();
    void storedSettings_prefill_andDateSurvivesBack();
    void handOffBoxes_data();
    void handOffBoxes();
    void everyPage_hasItsPassTitleAndSetPoint_data();
    void everyPage_hasItsPassTitleAndSetPoint();
    void wizard_makesItsOwnImagesReachable();

private:
    static QSettings settings();
};

QSettings TestCalibrationWizard::settings()
{
    return QSettings(QStringLiteral("Ostrand"), QStringLiteral("VX Lite Tarrow"));
}

void TestCalibrationWizard::init()
{
    settings().clear();
}

void TestCalibrationWizard::emptySettings_nextOnlyWhenFilled_settingsWrittenOnNext()
{
    LogCapture log;
    SimLink link;
    QVERIFY(link.connectEngine());
    CalibrationWizard wizard(nullptr, link.engine.get());
    WizardDriver driver { link.sender, link.engine.get(), wizard };
    wizard.show();
    QCOMPARE(wizard.pageIds().size(), 17);
    QCOMPARE(wizard.page(7)->title(), QStringLiteral("Calibration Page 2"));
    QCOMPARE(wizard.field("serialNumber").toString(), QStringLiteral("OVX4-1234"));
    QCOMPARE(wizard.field("firmwareVersion").toString(), QStringLiteral("1.0"));
    QVERIFY(!wizard.button(QWizard::NextButton)->isEnabled());

    driver.fillIntro();
    wizard.setField(QStringLiteral("calibratorDueDate"), QString());
    QVERIFY(!wizard.button(QWizard::NextButton)->isEnabled());
    wizard.setField(QStringLiteral("calibratorDueDate"), QStringLiteral("2030-01-31"));
    QVERIFY(wizard.button(QWizard::NextButton)->isEnabled());
    QVERIFY(settings().allKeys().isEmpty());

    QVERIFY(driver.click(QWizard::NextButton));
    QCOMPARE(wizard.currentId(), 1);
    QVERIFY(log.contains(QStringLiteral("IntroPage::validatePage called.")));
    QSettings s = settings();
    s.beginGroup(QStringLiteral("calsetup"));
    QCOMPARE(s.value("firstname").toString(), QStringLiteral("Ann"));
    QCOMPARE(s.value("company").toString(), QStringLiteral("Smith & Sons <Hydraulics>"));
    QCOMPARE(s.value("calDueDate").toString(), QStringLiteral("2030-01-31"));
    QCOMPARE(s.childKeys().size(), 7);
}

void TestCalibrationWizard::storedSettings_prefill_andDateSurvivesBack()
{
    {
        QSettings s = settings();
        s.beginGroup(QStringLiteral("calsetup"));
        for (const char *key : { "firstname", "lastname", "company", "calMakeModel",
                                 "calSerialNumber", "calCertNumber", "calDueDate" })
            s.setValue(QLatin1String(key), QStringLiteral("stored %1").arg(QLatin1String(key)));
    }
    SimLink link;
    QVERIFY(link.connectEngine());
    CalibrationWizard wizard(nullptr, link.engine.get());
    WizardDriver driver { link.sender, link.engine.get(), wizard };
    wizard.show();
    QCOMPARE(wizard.field("calibratorCertNumber").toString(),
             QStringLiteral("stored calCertNumber"));
    QCOMPARE(wizard.field("calDate").toDateTime(), gCalibrationDateTime);
    const QDateTime started = gCalibrationDateTime;

    QVERIFY(driver.click(QWizard::NextButton));
    QVERIFY(driver.click(QWizard::BackButton));
    wizard.setField(QStringLiteral("lastName"), QStringLiteral("Jones"));
    QVERIFY(driver.click(QWizard::NextButton));
    QCOMPARE(gCalibrationDateTime, started);
    QSettings s = settings();
    QCOMPARE(s.value("calsetup/lastname").toString(), QStringLiteral("Jones"));
}

void TestCalibrationWizard::handOffBoxes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("parented");
    QTest::newRow("no sender") << 0
                               << "Pressure Sender is invalid.  Please check the pressure "
                                  "sender's connection and then close and re-open the "
                                  "communication port."
                               << false;
    QTest::newRow("not connected") << 1
                                   << "Pressure Sender is not connected.  Please check the  "
                                      "pressure sender's connection and then close and re-open "
                                      "the communication port."
                                   << true;
    QTest::newRow("sender lost") << 2
                                 << "Calibration wizard aborted.  A timeout occurredwhile "
                                    "waiting for the pressure sender to respond."
                                 << false;
}

void TestCalibrationWizard::handOffBoxes()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(bool, parented);
    SimLink link;
    QVERIFY(link.openEngine());
    QWidget mainWindow;
    QString seen;
    QWidget *parent = nullptr;
    ModalAnswer::expect([&](QWidget *box) {
        seen = qobject_cast<QMessageBox *>(box)->text();
        parent = box->parentWidget();
        qobject_cast<QMessageBox *>(box)->accept();
    });
    if (kind == 2)
        CalibrationWizard::showSenderLostMessage();
    else
        QVERIFY(
            !CalibrationWizard::checkSender(&mainWindow, kind == 0 ? nullptr : link.engine.get()));
    QCOMPARE(seen, text);
    QCOMPARE(parent, parented ? &mainWindow : nullptr);
}

void TestCalibrationWizard::everyPage_hasItsPassTitleAndSetPoint_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("pageClass");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("psi"); // -1: not a capture page
    QTest::newRow("intro") << 0 << "IntroPage"
                           << "Calibration Setup" << -1;
    const struct
    {
        const char *pageClass;
        const char *title;
    } passes[] = { { "AsFoundPage", "As Found Page %1" },
                   { "CalibrationPage", "Calibration Page %1" },
                   { "VerificationPage", "Verification Page %1" } };
    int id = 1;
    for (const auto &pass : passes) {
        for (int i = 0; i < CalPages::SetPointCount; ++i, ++id) {
            QTest::addRow("%d", id) << id << pass.pageClass << QString(pass.title).arg(i + 1)
                                    << CalPages::SetPointsPsi[i];
        }
    }
    QTest::newRow("summary") << 16 << "CalSumPage" << QString() << -1;
}

void TestCalibrationWizard::everyPage_hasItsPassTitleAndSetPoint()
{
    QFETCH(int, id);
    QFETCH(QString, pageClass);
    QFETCH(QString, title);
    QFETCH(int, psi);
    SimLink link;
    QVERIFY(link.openEngine());
    CalibrationWizard wizard(nullptr, link.engine.get());

    QWizardPage *page = wizard.page(id);
    QVERIFY(page);
    QCOMPARE(QString::fromLatin1(page->metaObject()->className()), pageClass);
    if (!title.isEmpty())
        QCOMPARE(page->title(), title);
    AbstractCalPage *capture = wizard.capturePage(id);
    QCOMPARE(capture != nullptr, psi >= 0);
    if (!capture)
        return;
    QCOMPARE(capture->id(), id);
    const QString instruction = QStringLiteral("Set pressure to %1 PSI").arg(psi);
    const QList<QLabel *> labels = capture->findChildren<QLabel *>();
    QVERIFY(std::any_of(labels.begin(), labels.end(),
                        [&](QLabel *l) { return l->text().contains(instruction); }));
}

void TestCalibrationWizard::wizard_makesItsOwnImagesReachable()
{
    // The images live in the calibration library, which a program must not have to register.
    SimLink link;
    QVERIFY(link.openEngine());
    CalibrationWizard wizard(nullptr, link.engine.get());
    QVERIFY(!wizard.page(CalPages::FirstAsFound)->pixmap(QWizard::WatermarkPixmap).isNull());
    QVERIFY(!wizard.page(CalPages::Intro)->pixmap(QWizard::WatermarkPixmap).isNull());
    QVERIFY(QFile::exists(QStringLiteral(":/images/images/ostrand.png")));
}

QTEST_MAIN(TestCalibrationWizard)
#include "tst_calibrationwizard.moc"
