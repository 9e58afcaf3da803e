// Takes the README's pictures from the real main window: a simulated sender on a pseudo-terminal is
// opened, calibrated through the wizard to its summary page, the Calibration History window is
// opened from the View menu over a history that already holds this sender's earlier runs, and the
// main window is shown once the sender has gone silent; then, the sender back, a firmware update
// runs at 9600 baud and its dialog is pictured part of the way through.
// scripts/screenshots.sh runs it under Xvfb with a throw-away home, settings and data folder.
#include "calibrationhistory.h"
#include "calibrationshared.h"
#include "calsumpage.h"
#include "firmwarepackage.h"
#include "hexrecord.h"
#include "modalanswer.h"
#include "senderwindow.h"
#include "settingskeys.h"
#include "wizarddriver.h"

#include <QApplication>
#include <QScreen>
#include <QSettings>

namespace {

bool save(QWidget *widget, const QString &path)
{
    QTest::qWait(500); // let the last repaint reach the X server
    const QPixmap shot = widget->screen()->grabWindow(widget->winId());
    const bool saved = !shot.isNull() && shot.save(path);
    qInfo().noquote() << (saved ? "wrote" : "could not write") << path;
    return saved;
}

/// Four earlier yearly runs of `serial` whose as-found errors grow as the sensor drifts.
void seedHistory(const QString &serial)
{
    CalibrationHistory history;
    for (int year = 2022; year <= 2025; ++year) {
        const int age = year - 2021;
        CalibrationRecord r;
        r.certificateNumber = QStringLiteral("VX4-%1-%2").arg(year).arg(age, 6, 10, QChar('0'));
        r.senderSerial = serial;
        r.firmware = QStringLiteral("1.1");
        r.calibrated = QDateTime(QDate(year, 3, 10 + age), QTime(9, 30));
        r.started = r.calibrated.addSecs(-600);
        r.finished = r.calibrated.addSecs(900);
        r.technician = QStringLiteral("Ann Smith");
        r.referenceCalibrator = QStringLiteral("Fluke 700G");
        r.referenceDueDate = QDate(year + 1, 1, 31);
        r.referenceUncertainty = ReferenceUncertainty { 0.05, true, 2 };
        r.procedureId = QStringLiteral("CAL-VX4-5P");
        r.ambientCelsius = 21.5;
        r.calibrationSaved = true;
        r.nextCalibrationDate = r.calibrated.date().addYears(1);
        for (int i = 0; i < CalibrationRecord::PointCount; ++i) {
            CalibrationPoint &p = r.points[size_t(i)];
            p.setPoint = p.asFoundReference = p.asLeftReference = CalPages::SetPointsPsi[size_t(i)];
            p.asFound = p.setPoint + age * (1 + i) - 2;
            p.asLeft = p.setPoint + (i % 2 ? 1 : -1);
            p.asFoundCapture = p.asLeftCapture = Capture::Stable;
            p.asFoundU = p.asLeftU = 0.6 + 0.001 * p.setPoint;
        }
        const auto stored = history.store(r);
        if (!stored.error.isEmpty())
            qFatal("%s", qPrintable(stored.error));
    }
}

/// Walks the wizard the calibrate button opened to its summary page, pictures it and finishes.
void calibrate(SenderWindow &w, const QString &folder, bool *done)
{
    auto *wizard = qobject_cast<CalibrationWizard *>(QApplication::activeModalWidget());
    if (!wizard)
        qFatal("the calibration wizard did not open");
    wizard->setGeometry(0, 0, 900, 940);
    WizardDriver driver { w.sender, w.engine(), *wizard };
    driver.fillIntro();
    const std::array<double, CalPages::SetPointCount> asFound { 3, -2, 7, 13, 6 };
    const std::array<double, CalPages::SetPointCount> asLeft { 0, 1, -1, 1, 2 };
    bool ok = driver.click(QWizard::NextButton);
    for (int i = 0; ok && i < CalPages::SetPointCount; ++i)
        ok = driver.capture(CalPages::SetPointsPsi[size_t(i)] + asFound[size_t(i)]);
    ok = ok && driver.runPass(true);
    for (int i = 0; ok && i < CalPages::SetPointCount; ++i)
        ok = driver.capture(CalPages::SetPointsPsi[size_t(i)] + asLeft[size_t(i)]);
    if (!ok || wizard->currentId() != CalPages::Summary)
        qFatal("the calibration stopped on page %d", wizard->currentId());
    // The certificate shows once the history has drawn its number.
    if (!QTest::qWaitFor([&] { return wizard->summaryPage()->isComplete(); }, 10000))
        qFatal("no certificate number: %s", qPrintable(wizard->summaryPage()->numberProblem()));
    if (!save(wizard, folder + QStringLiteral("/calibration-summary.png")))
        return;
    // Finishing tells where the certificate went, in a box of its own.
    ModalAnswer::pressButton(QMessageBox::Ok);
    *done = driver.click(QWizard::FinishButton);
}

/// A package of firmware 2.6 whose image fills `rows` rows of program memory.
QString writePackage(int rows)
{
    FirmwarePackage package;
    package.versionMajor = 2;
    package.versionMinor = 6;
    package.packagedOn = QDateTime(QDate(2026, 11, 30), QTime(14, 5, 9));
    package.description = QStringLiteral("Faster start-up.");
    for (int address = 0; address < rows * 128; address += 16) {
        QByteArray data(16, char(address / 16));
        package.hexData += hexRecord(0, quint16(address), data) + "\r\n";
    }
    package.hexData += ":00000001FF\r\n";
    package.md5 = packageDigest(package);
    const QString path = QDir(qEnvironmentVariable("VX4_TEST_TMP", QDir::tempPath()))
                             .filePath(QStringLiteral("screenshot.vx4f"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(FirmwarePackageWriter::toBytes(package)) < 0)
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

/// Starts an update of the connected sender at 9600 baud and pictures its dialog once a quarter
/// of the rows is done, with the time left.
bool updateDialog(SenderWindow &w, const QString &folder)
{
    constexpr int Rows = 48;
    const QString path = writePackage(Rows);
    w.pty.setPacingBaud(9600);
    w.window->setFileChooser([=](auto...) { return path; });
    ModalAnswer::pressButton(QMessageBox::Ok);
    w.ui()->updateFirmButton->click();
    QProgressDialog *progress = w.window->firmwareProgressDialog();
    if (!progress || !QTest::qWaitFor([&] { return progress->value() >= Rows / 4; }, 60000))
        qFatal("the update did not get going");
    progress->move(w.window->geometry().center() - progress->rect().center());
    return save(progress, folder + QStringLiteral("/firmware-update-progress.png"));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    namespace K = SettingsStore::CalSetupGroup;
    settings.setValue(QStringLiteral("%1/%2").arg(K::Name, K::SettleSeconds), 1);
    settings.setValue(QStringLiteral("%1/%2").arg(K::Name, K::ProcedureId),
                      QStringLiteral("CAL-VX4-5P rev. 3"));

    SenderWindow w;
    w.window->show();
    if (!w.openAndConnect())
        qFatal("the simulated sender did not connect");
    seedHistory(w.engine()->serialNumberString());

    bool calibrated = false;
    QTimer::singleShot(0, &app, [&] { calibrate(w, folder, &calibrated); });
    w.ui()->calButton->click();
    if (!calibrated)
        return 1;

    w.ui()->actionCalibrationHistory->trigger();
    QWidget *history = nullptr;
    const bool opened = QTest::qWaitFor([&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("historyWindow") && top->isVisible())
                history = top;
        return history != nullptr;
    });
    if (!opened)
        qFatal("the history window did not open");
    history->setGeometry(0, 0, 1000, 760);
    if (!save(history, folder + QStringLiteral("/calibration-history.png")))
        return 1;
    history->close();

    // A sender gone silent: no number on the display, and when it was last heard.
    w.sender.setSilent(true);
    if (!w.waitForStatus(QStringLiteral("The sender stopped answering at ")))
        qFatal("the window did not notice the silence");
    w.window->move(0, 0);
    if (!save(w.window.get(), folder + QStringLiteral("/main-silent-sender.png")))
        return 1;
    w.sender.setSilent(false);
    if (!w.waitForStatus(QStringLiteral("Connected")))
        qFatal("the sender did not come back");
    return updateDialog(w, folder) ? 0 : 1;
}
