#include "intropage.h"

#include "calibrationshared.h"
#include "resourcepaths.h"
#include "settingskeys.h"
#include "vx4log.h"

#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSettings>
#include <QVBoxLayout>
#include <QWizard>

#define LOG VX4_LOG("VX4calibrationwizard")

namespace {
namespace Keys = SettingsStore::CalSetupGroup;
constexpr int CalDateDaysBack = 365; ///< earliest date the date box allows, in days before today
constexpr int CalDateDaysAhead = 7; ///< latest date the date box allows, in days after today
constexpr double MaxTolerancePsi = 300; ///< 10 % of span: anything wider is no calibration
const QString DateForm = QStringLiteral("yyyy-MM-dd");
} // namespace

IntroPage::IntroPage(QWidget *wizard)
    : QWizardPage(wizard)
    , calWizard(wizard)
{
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(Keys::Name);

    setTitle(tr("Calibration Setup"));
    setSubTitle(tr("This wizard will guide you through the process of calibrating a Ostrand "
                   "Orvelle.  Calibration data will not be written until the end of the "
                   "calibration portion.  You may exit the wizard at any time."));
    setPixmap(QWizard::WatermarkPixmap, QPixmap(QString::fromLatin1(ResourcePaths::Watermark)));

    setObjectName(QStringLiteral("introPage"));
    auto editWithSetting = [&](const char *key) {
        return new QLineEdit(settings.value(QLatin1String(key), QString()).toString(), this);
    };
    firstNameEdit = editWithSetting(Keys::FirstName);
    lastNameEdit = editWithSetting(Keys::LastName);
    companyEdit = editWithSetting(Keys::Company);
    serialNumberEdit = new QLineEdit(this);
    serialNumberEdit->setReadOnly(true);
    firmwareVersionEdit = new QLineEdit(this);
    firmwareVersionEdit->setReadOnly(true);
    calDateEdit = new QDateTimeEdit(QDateTime::currentDateTime(), this);
    calDateEdit->setReadOnly(true);
    calDateEdit->setMinimumDate(QDate::currentDate().addDays(-CalDateDaysBack));
    calDateEdit->setMaximumDate(QDate::currentDate().addDays(CalDateDaysAhead));
    calDateEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd hh:mm AP"));
    calDateEdit->setCalendarPopup(true);
    calibratorMakeModelEdit = editWithSetting(Keys::CalMakeModel);
    calibratorSerialNumberEdit = editWithSetting(Keys::CalSerialNumber);
    calibratorCertNumberEdit = editWithSetting(Keys::CalCertNumber);
    const QDate due = QDate::fromString(settings.value(Keys::CalDueDate).toString(), DateForm);
    calibratorDueDateEdit = new QDateEdit(due.isValid() ? due : QDate::currentDate(), this);
    calibratorDueDateEdit->setObjectName(QStringLiteral("calibratorDueDateEdit"));
    calibratorDueDateEdit->setDisplayFormat(DateForm);
    calibratorDueDateEdit->setCalendarPopup(true);
    dueWarning = new QLabel(this);
    dueWarning->setObjectName(QStringLiteral("dueWarning"));
    dueWarning->setStyleSheet(QStringLiteral("color: red"));
    toleranceBox = new QDoubleSpinBox(this);
    toleranceBox->setObjectName(QStringLiteral("toleranceBox"));
    toleranceBox->setRange(0.1, MaxTolerancePsi);
    toleranceBox->setDecimals(1);
    toleranceBox->setPrefix(QStringLiteral("\u00B1 "));
    toleranceBox->setSuffix(QStringLiteral(" PSI"));
    toleranceBox->setValue(
        settings.value(Keys::TolerancePsi, CalPages::DefaultTolerancePsi).toDouble());

    // Named for scripts that fill the page, e.g. to take a screenshot of the certificate.
    const QList<std::pair<QWidget *, const char *>> names {
        { firstNameEdit, "firstNameEdit" },
        { lastNameEdit, "lastNameEdit" },
        { companyEdit, "companyEdit" },
        { calibratorMakeModelEdit, "calibratorMakeModelEdit" },
        { calibratorSerialNumberEdit, "calibratorSerialNumberEdit" },
        { calibratorCertNumberEdit, "calibratorCertNumberEdit" },
    };
    for (const auto &[widget, name] : names)
        widget->setObjectName(QLatin1String(name));

    auto *form = new QFormLayout;
    form->addRow(tr("&First Name"), firstNameEdit);
    form->addRow(tr("&Last Name:"), lastNameEdit);
    form->addRow(tr("&Company:"), companyEdit);
    form->addRow(tr("Orvelle &Serial #:"), serialNumberEdit);
    form->addRow(tr("Orvelle &Firmware Version:"), firmwareVersionEdit);
    form->addRow(tr("Calibration &Date:"), calDateEdit);
    form->addRow(tr("Pressure Calibrator M&ake & Model:"), calibratorMakeModelEdit);
    form->addRow(tr("Pressure Calibrator Serial Number:"), calibratorSerialNumberEdit);
    form->addRow(tr("Pressure Calibrator Certificate #:"), calibratorCertNumberEdit);
    form->addRow(tr("Pressure Calibrator Due Date:"), calibratorDueDateEdit);
    form->addRow(QString(), dueWarning);
    form->addRow(tr("&Tolerance:"), toleranceBox);

    registerField(QStringLiteral("firstName"), firstNameEdit);
    registerField(QStringLiteral("lastName"), lastNameEdit);
    registerField(QStringLiteral("company"), companyEdit);
    registerField(QStringLiteral("serialNumber"), serialNumberEdit);
    registerField(QStringLiteral("firmwareVersion"), firmwareVersionEdit);
    registerField(QStringLiteral("calDate"), calDateEdit, "dateTime");
    registerField(QStringLiteral("calibratorMakeModel"), calibratorMakeModelEdit);
    registerField(QStringLiteral("calibratorSerialNumber"), calibratorSerialNumberEdit);
    registerField(QStringLiteral("calibratorCertNumber"), calibratorCertNumberEdit);
    registerField(QStringLiteral("calibratorDueDate"), calibratorDueDateEdit, "date");
    registerField(QStringLiteral("tolerancePsi"), toleranceBox, "value");

    const QList<QLineEdit *> edits { firstNameEdit,
                                     lastNameEdit,
                                     companyEdit,
                                     serialNumberEdit,
                                     firmwareVersionEdit,
                                     calibratorMakeModelEdit,
                                     calibratorSerialNumberEdit,
                                     calibratorCertNumberEdit };
    for (QLineEdit *edit : edits)
        connect(edit, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
    connect(calDateEdit, &QDateTimeEdit::dateTimeChanged, this, &QWizardPage::completeChanged);
    connect(calibratorDueDateEdit, &QDateEdit::dateChanged, this, &IntroPage::onDueDateChanged);
    onDueDateChanged();

    settings.endGroup();
    auto *layout = new QVBoxLayout;
    layout->addLayout(form);
    setLayout(layout);
}

void IntroPage::initializePage()
{
    if (gPressureSender)
        serialNumberEdit->setText(gPressureSender->serialNumberString());
    gCalibrationDateTime = QDateTime::currentDateTime();
    calDateEdit->setDateTime(gCalibrationDateTime);
    if (gPressureSender)
        firmwareVersionEdit->setText(gPressureSender->firmwareVersionString());
}

bool IntroPage::isComplete() const
{
    const QList<const QLineEdit *> required { firstNameEdit,
                                              lastNameEdit,
                                              companyEdit,
                                              serialNumberEdit,
                                              calibratorMakeModelEdit,
                                              calibratorSerialNumberEdit,
                                              calibratorCertNumberEdit };
    for (const QLineEdit *edit : required) {
        if (edit->text().isEmpty())
            return false;
    }
    return true;
}

bool IntroPage::validatePage()
{
    LOG << "IntroPage::validatePage called.";
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(Keys::Name);
    settings.setValue(Keys::FirstName, firstNameEdit->text());
    settings.setValue(Keys::LastName, lastNameEdit->text());
    settings.setValue(Keys::Company, companyEdit->text());
    settings.setValue(Keys::CalMakeModel, calibratorMakeModelEdit->text());
    settings.setValue(Keys::CalSerialNumber, calibratorSerialNumberEdit->text());
    settings.setValue(Keys::CalCertNumber, calibratorCertNumberEdit->text());
    settings.setValue(Keys::CalDueDate, calibratorDueDateEdit->date().toString(DateForm));
    settings.setValue(Keys::TolerancePsi, toleranceBox->value());
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        LOG << "Could not store the calibration setup in" << settings.fileName();
    return true;
}

int IntroPage::nextId() const
{
    if (gPressureSender && gPressureSender->mode() == CalibrationMode)
        return CalPages::FirstCalibration;
    return CalPages::FirstAsFound;
}

void IntroPage::onDueDateChanged()
{
    // A warning, not a refusal: the technician may have a recalibrated reference whose new
    // certificate has not been entered yet, and the certificate shows the date either way.
    const bool pastDue = calibratorDueDateEdit->date() < QDate::currentDate();
    dueWarning->setText(pastDue ? tr("The reference calibrator is past its due date.") : QString());
    dueWarning->setVisible(pastDue);
}
