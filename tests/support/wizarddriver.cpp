#include "wizarddriver.h"

#include "abstractcalpage.h"
#include "calibrationshared.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

void WizardDriver::fillIntro()
{
    wizard.setField(QStringLiteral("firstName"), QStringLiteral("Ann"));
    wizard.setField(QStringLiteral("lastName"), QStringLiteral("Smith"));
    wizard.setField(QStringLiteral("company"), QStringLiteral("Smith & Sons <Hydraulics>"));
    wizard.setField(QStringLiteral("calibratorMakeModel"), QStringLiteral("Fluke 700G"));
    wizard.setField(QStringLiteral("calibratorSerialNumber"), QStringLiteral("FK-991"));
    wizard.setField(QStringLiteral("calibratorCertNumber"), QStringLiteral("C-2024-17"));
    wizard.setField(QStringLiteral("calibratorDueDate"), QStringLiteral("2030-01-31"));
}

bool WizardDriver::click(QWizard::WizardButton which)
{
    QAbstractButton *b = wizard.button(which);
    if (!b->isEnabled() || !b->isVisible())
        return false;
    b->click();
    return true;
}

bool WizardDriver::hearReading(double psi)
{
    QSignalSpy readings(engine, &VX4Interface::vx4PressureMsgRdy);
    sender.setAppliedPressure(psi);
    // The sender's reading may still change while a saved calibration is on its way to it.
    return QTest::qWaitFor(
        [&] {
            return !readings.isEmpty() && readings.constLast().at(0).toInt() == sender.reading();
        },
        5000);
}

bool WizardDriver::captureReading(double psi)
{
    const int id = wizard.currentId();
    AbstractCalPage *page = wizard.capturePage(id);
    if (!page || !hearReading(psi))
        return false;
    page->captureButton()->click();
    return QTest::qWaitFor([&] { return wizard.currentId() != id; }, 5000);
}

bool WizardDriver::captureCalibration(double psi)
{
    const int id = wizard.currentId();
    AbstractCalPage *page = wizard.capturePage(id);
    if (!page)
        return false;
    sender.setAppliedPressure(psi);
    page->captureButton()->click();
    return QTest::qWaitFor([&] { return wizard.currentId() != id; }, 5000);
}

bool WizardDriver::runPass(bool calibration, double offsetPsi)
{
    for (int psi : CalPages::SetPointsPsi) {
        const bool moved
            = calibration ? captureCalibration(psi + offsetPsi) : captureReading(psi + offsetPsi);
        if (!moved)
            return false;
    }
    return true;
}

WorkingDir::WorkingDir()
    : dir(qEnvironmentVariable("VX4_TEST_TMP", QDir::tempPath()) + QStringLiteral("/work-XXXXXX"))
    , previous(QDir::currentPath())
{
    QDir::setCurrent(dir.path());
}

WorkingDir::~WorkingDir()
{
    QDir::setCurrent(previous);
}
