#include "intropage.h"

#include "calibrationshared.h"
#include "resourcepaths.h"
#include "settingskeys.h"
#include "vx4log.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QHBoxLayout>
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
constexpr double MinAmbientCelsius = -20; ///< range of an ambient temperature worth recording
constexpr double MaxAmbientCelsius = 60;
constexpr double MaxReferenceUncertainty = 100; ///< PSI or % of reading
constexpr double MinCoverage = 1; ///< coverage factors a reference's certificate may state
constexpr double MaxCoverage = 3;
const QString DateForm = QStringLiteral("yyyy-MM-dd");

/// A number typed into `edit`, or nothing while it holds none.
std::optional<double> number(const QLineEdit *edit)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(edit->text().trimmed(), &ok);
    return ok ? std::optional(value) : std::nullopt;
}

QLineEdit *numberEdit(QWidget *parent, double low, double high)
{
    auto *edit = new QLineEdit(parent);
    auto *validator = new QDoubleValidator(low, high, 3, edit);
    validator->setNotation(QDoubleValidator::StandardNotation);
    validator->setLocale(QLocale::c());
    edit->setValidator(validator);
    return edit;
}
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
    // Unset stays unset: a date the technician did not enter is not today's.
    const QDate due = QDate::fromString(settings.value(Keys::CalDueDate).toString(), DateForm);
    calibratorDueDateEdit = new QDateEdit(this);
    calibratorDueDateEdit->setMinimumDate(UnsetDate);
    calibratorDueDateEdit->setSpecialValueText(QStringLiteral(" "));
    calibratorDueDateEdit->setDate(due.isValid() && due > UnsetDate ? due : UnsetDate);
    calibratorDueDateEdit->setDisplayFormat(DateForm);
    calibratorDueDateEdit->setCalendarPopup(true);
    uncertaintyEdit = numberEdit(this, 0, MaxReferenceUncertainty);
    uncertaintyEdit->setText(settings.value(Keys::CalUncertainty).toString());
    uncertaintyUnitBox = new QComboBox(this);
    uncertaintyUnitBox->addItems({ tr("PSI"), tr("% of reading") });
    uncertaintyUnitBox->setCurrentIndex(
        settings.value(Keys::CalUncertaintyUnit).toString() == QLatin1String("percent") ? 1 : 0);
    coverageBox = new QDoubleSpinBox(this);
    coverageBox->setRange(MinCoverage, MaxCoverage);
    coverageBox->setDecimals(2);
    coverageBox->setPrefix(QStringLiteral("k = "));
    coverageBox->setValue(settings.value(Keys::CalUncertaintyK, 2.0).toDouble());
    ambientEdit = numberEdit(this, MinAmbientCelsius, MaxAmbientCelsius);
    toleranceBox = new QDoubleSpinBox(this);
    toleranceBox->setRange(0.1, LabPolicy::MaxTolerancePsi);
    toleranceBox->setDecimals(1);
    toleranceBox->setPrefix(QStringLiteral("\u00B1 "));
    toleranceBox->setSuffix(QStringLiteral(" PSI"));
    ruleBox = new QComboBox(this);
    ruleBox->addItems(
        { LabPolicy::ruleName(DecisionRule::Simple), LabPolicy::ruleName(DecisionRule::Guarded) });
    procedureEdit = new QLineEdit(this);
    policyNote = new QLabel(this);
    policyNote->setWordWrap(true);
    blockedLabel = new QLabel(this);
    blockedLabel->setStyleSheet(QStringLiteral("color: red"));
    blockedLabel->setWordWrap(true);

    // Named for scripts that fill the page, e.g. to take a screenshot of the certificate.
    const QList<std::pair<QWidget *, const char *>> names {
        { firstNameEdit, "firstNameEdit" },
        { lastNameEdit, "lastNameEdit" },
        { companyEdit, "companyEdit" },
        { calibratorMakeModelEdit, "calibratorMakeModelEdit" },
        { calibratorSerialNumberEdit, "calibratorSerialNumberEdit" },
        { calibratorCertNumberEdit, "calibratorCertNumberEdit" },
        { calibratorDueDateEdit, "calibratorDueDateEdit" },
        { ambientEdit, "ambientEdit" },
        { toleranceBox, "toleranceBox" },
        { ruleBox, "ruleBox" },
        { procedureEdit, "procedureEdit" },
        { policyNote, "policyNote" },
        { blockedLabel, "blockedLabel" },
    };
    for (const auto &[widget, name] : names)
        widget->setObjectName(QLatin1String(name));

    auto *uncertaintyRow = new QHBoxLayout;
    uncertaintyRow->addWidget(new QLabel(QStringLiteral("\u00B1"), this));
    uncertaintyRow->addWidget(uncertaintyEdit, 1);
    uncertaintyRow->addWidget(uncertaintyUnitBox);
    uncertaintyRow->addWidget(coverageBox);
    auto *ambientRow = new QHBoxLayout;
    ambientRow->addWidget(ambientEdit, 1);
    ambientRow->addWidget(new QLabel(QStringLiteral("\u00B0C"), this));
    auto *form = new QFormLayout;
    form->addRow(tr("&First Name"), firstNameEdit);
    form->addRow(tr("&Last Name:"), lastNameEdit);
    form->addRow(tr("&Company:"), companyEdit);
    form->addRow(tr("Orvelle &Serial #:"), serialNumberEdit);
    form->addRow(tr("Orvelle &Firmware Version:"), firmwareVersionEdit);
    form->addRow(tr("Calibration &Date:"), calDateEdit);
    form->addRow(tr("Pressure Calibrator M&ake && Model:"), calibratorMakeModelEdit);
    form->addRow(tr("Pressure Calibrator Serial Number:"), calibratorSerialNumberEdit);
    form->addRow(tr("Pressure Calibrator Certificate #:"), calibratorCertNumberEdit);
    form->addRow(tr("Pressure Calibrator Due Date:"), calibratorDueDateEdit);
    // A row of several widgets gets no buddy from the form: its mnemonic needs one.
    const auto buddyLabel = [this](const QString &text, QWidget *buddy) {
        auto *label = new QLabel(text, this);
        label->setBuddy(buddy);
        return label;
    };
    form->addRow(buddyLabel(tr("Pressure Calibrator &Uncertainty:"), uncertaintyEdit),
                 uncertaintyRow);
    form->addRow(buddyLabel(tr("Ambient &Temperature:"), ambientEdit), ambientRow);
    form->addRow(tr("Tolerance:"), toleranceBox);
    form->addRow(tr("Decision Rule:"), ruleBox);
    form->addRow(tr("Procedure:"), procedureEdit);
    form->addRow(QString(), policyNote);
    form->addRow(QString(), blockedLabel);

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
    registerField(QStringLiteral("referenceUncertainty"), uncertaintyEdit);
    registerField(QStringLiteral("referenceUncertaintyPercent"), uncertaintyUnitBox);
    registerField(QStringLiteral("referenceCoverage"), coverageBox, "value");
    registerField(QStringLiteral("ambientCelsius"), ambientEdit);
    registerField(QStringLiteral("tolerancePsi"), toleranceBox, "value");
    registerField(QStringLiteral("decisionRule"), ruleBox);
    registerField(QStringLiteral("procedureId"), procedureEdit);

    for (QLineEdit *edit : findChildren<QLineEdit *>())
        connect(edit, &QLineEdit::textChanged, this, &IntroPage::onEntriesChanged);
    connect(calibratorDueDateEdit, &QDateEdit::dateChanged, this, &IntroPage::onEntriesChanged);

    ownPolicy.tolerancePsi
        = settings.value(Keys::TolerancePsi, LabPolicy::DefaultTolerancePsi).toDouble();
    ownPolicy.rule = CalibrationRecord::ruleFromText(settings.value(Keys::DecisionRule).toString())
                         .value_or(DecisionRule::Simple);
    ownPolicy.procedureId = settings.value(Keys::ProcedureId).toString();
    settings.endGroup();
    useOwnPolicy(QString());

    auto *layout = new QVBoxLayout;
    layout->addLayout(form);
    setLayout(layout);
}

void IntroPage::setPolicy(const LabPolicy &policy, bool lab, const QString &note)
{
    policyKnown = true;
    labPolicy = lab;
    toleranceBox->setValue(policy.tolerancePsi);
    ruleBox->setCurrentIndex(policy.rule == DecisionRule::Guarded ? 1 : 0);
    procedureEdit->setText(policy.procedureId);
    toleranceBox->setReadOnly(lab);
    ruleBox->setEnabled(!lab);
    procedureEdit->setReadOnly(lab);
    policyNote->setText(note);
    onEntriesChanged();
}

void IntroPage::useOwnPolicy(const QString &note)
{
    setPolicy(ownPolicy, false, note);
}

void IntroPage::setPolicyPending(const QString &note)
{
    policyKnown = false;
    policyNote->setText(note);
    onEntriesChanged();
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

QString IntroPage::blockedReason() const
{
    const QDate due = calibratorDueDateEdit->date();
    if (due <= UnsetDate)
        return tr("Enter the pressure calibrator's due date.");
    if (due < QDate::currentDate())
        return tr("The pressure calibrator is past its due date (%1): it cannot be used until it "
                  "has been calibrated again.")
            .arg(due.toString(DateForm));
    if (!number(uncertaintyEdit))
        return tr("Enter the pressure calibrator's uncertainty as its certificate states it.");
    if (!number(ambientEdit))
        return tr("Enter the ambient temperature.");
    if (!policyKnown)
        return tr("Waiting for the lab's policy...");
    return {};
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
    return blockedReason().isEmpty();
}

void IntroPage::onEntriesChanged()
{
    const QString reason = blockedReason();
    blockedLabel->setText(reason);
    blockedLabel->setVisible(!reason.isEmpty());
    emit completeChanged();
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
    settings.setValue(Keys::CalUncertainty, uncertaintyEdit->text().trimmed());
    settings.setValue(Keys::CalUncertaintyUnit,
                      uncertaintyUnitBox->currentIndex() == 1 ? "percent" : "psi");
    settings.setValue(Keys::CalUncertaintyK, coverageBox->value());
    // The lab's policy is the history's; only this computer's own is kept here.
    if (!labPolicy) {
        settings.setValue(Keys::TolerancePsi, toleranceBox->value());
        settings.setValue(Keys::DecisionRule,
                          CalibrationRecord::ruleText(ruleBox->currentIndex() == 1
                                                          ? DecisionRule::Guarded
                                                          : DecisionRule::Simple));
        settings.setValue(Keys::ProcedureId, procedureEdit->text());
    }
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
