#include "wizarddriver.h"

#include "abstractcalpage.h"
#include "calibrationhistory.h"
#include "calibrationshared.h"
#include "historyservice.h"

#include <QDoubleSpinBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

static bool isCalibrationPage(int id)
{
    return id >= CalPages::FirstCalibration && id <= CalPages::LastCalibration;
}

void WizardDriver::fillIntro()
{
    wizard.setField("firstName", "Ann");
    wizard.setField("lastName", "Smith");
    wizard.setField("company", "Smith & Sons <Hydraulics>");
    wizard.setField("calibratorMakeModel", "Fluke 700G");
    wizard.setField("calibratorSerialNumber", "FK-991");
    wizard.setField("calibratorCertNumber", "C-2024-17");
    wizard.setField("calibratorDueDate", QDate(2030, 1, 31));
    wizard.setField("referenceUncertainty", "0.05");
    wizard.setField("referenceUncertaintyPercent", 1);
    wizard.setField("ambientCelsius", "21.5");
}

void WizardDriver::startClean()
{
    // Never the real history: add_vx4_test gives every program a data home of its own.
    if (qEnvironmentVariableIsEmpty("XDG_DATA_HOME"))
        qFatal("XDG_DATA_HOME is not set; refusing to touch the calibration history");
    // A wizard of an earlier test may have left its history's work running: it ends first.
    if (!QTest::qWaitFor([] { return HistoryService::workersLeftBehind() == 0; }, 30000))
        qWarning("a history worker of an earlier test is still running");
    QDir(HistoryLocation::dataFolder()).removeRecursively();
    QSettings settings("Ostrand", "VX Lite Tarrow");
    settings.clear();
    settings.setValue("calsetup/settleSeconds", 0);
    settings.setValue("calsetup/stableWindowMs", 150);
    settings.setValue("calsetup/silenceSeconds", 1);
}

bool WizardDriver::click(QWizard::WizardButton which)
{
    QAbstractButton *b = wizard.button(which);
    // Finish waits for the certificate's number, which the history draws off the GUI thread.
    const bool offered = QTest::qWaitFor([&] { return b->isEnabled() && b->isVisible(); }, 5000);
    if (offered)
        b->click();
    return offered;
}

bool WizardDriver::hearReading(double psi)
{
    QSignalSpy readings(engine, &VX4Interface::vx4PressureMsgRdy);
    sender.setAppliedPressure(psi);
    // The sender's reading may still change while a saved calibration is on its way to it.
    const auto heard = [&] {
        return !readings.isEmpty() && readings.constLast().at(0).toInt() == sender.reading();
    };
    return QTest::qWaitFor(heard, 5000);
}

bool WizardDriver::capture(double psi, int presses)
{
    const int id = wizard.currentId();
    AbstractCalPage *page = wizard.capturePage(id);
    // The technician reads the set point off the reference unless the test typed another value.
    if (page && !page->referenceEntered())
        page->referenceBox()->setValue(CalPages::SetPointsPsi[size_t((id - 1) % 5)]);
    sender.setAppliedPressure(psi);
    // Capture is offered once the page's own reading of this pressure is stable.
    const auto ready = [&] {
        return page->captureButton()->isEnabled()
            && (isCalibrationPage(id) || page->stability().latest() == sender.reading());
    };
    if (!page || (!isCalibrationPage(id) && !hearReading(psi)) || !QTest::qWaitFor(ready, 5000))
        return false;
    for (int i = 0; i < presses; ++i)
        page->captureButton()->click();
    return QTest::qWaitFor([&] { return wizard.currentId() != id; }, 5000);
}

bool WizardDriver::runPass(bool calibration, double offsetPsi)
{
    for (int psi : CalPages::SetPointsPsi)
        if (isCalibrationPage(wizard.currentId()) != calibration || !capture(psi + offsetPsi))
            return false;
    return true;
}

bool CalibrationRun::start(bool next)
{
    qputenv("HOME", work.path("home").toLocal8Bit());
    if (!link.connectEngine())
        return false;
    link.sender.clearRequests();
    wizard = std::make_unique<CalibrationWizard>(nullptr, link.engine.get());
    wizard->attachSender(link.engine.get());
    driver.reset(new WizardDriver { link.sender, link.engine.get(), *wizard });
    wizard->show();
    driver->fillIntro();
    return !next || driver->click(QWizard::NextButton);
}

QStringList wireOf(const SimulatedSender &sender)
{
    QStringList result;
    for (const VX4Message &m : sender.requests())
        if (m.command != VX4Protocol::AppQuery)
            result.append((QByteArray(1, char(m.command)) + m.payload).toHex());
    return result;
}

QStringList pdfPages(const QString &path)
{
    QProcess p;
    p.start("pdftotext", { "-layout", path, "-" });
    p.waitForFinished(30000);
    // The compatibility form spells out the ligatures the layout made ("fi" in "Certificate").
    QStringList pages = QString::fromUtf8(p.readAllStandardOutput())
                            .normalized(QString::NormalizationForm_KC)
                            .split(QChar('\f'), Qt::SkipEmptyParts);
    for (QString &page : pages)
        page = page.simplified();
    pages.removeAll(QString());
    return pages;
}

QString pdfText(const QString &path)
{
    return pdfPages(path).join(u' ');
}
