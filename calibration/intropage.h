#pragma once

#include "labpolicy.h"

#include <QDate>
#include <QWizardPage>

class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;

/// First page of the calibration wizard: who calibrates, with which reference calibrator, under
/// which conditions and policy, and which sender. The technician's and the reference's entries
/// are remembered between runs; the ambient temperature is entered for each run.
class IntroPage : public QWizardPage
{
    Q_OBJECT

public:
    /// The due date box shows nothing while it holds this date: no due date was entered.
    static inline const QDate UnsetDate { 2000, 1, 1 };

    explicit IntroPage(QWidget *wizard);

    bool validatePage() override;
    bool isComplete() const override;
    int nextId() const override;

    /// Shows `policy`: read-only when it is the lab's (from the history), editable when it is
    /// this computer's own settings. `note` says where it comes from.
    void setPolicy(const LabPolicy &policy, bool lab, const QString &note);
    /// No lab policy applies: this computer's own settings do, editable.
    void useOwnPolicy(const QString &note);
    /// The policy is being read: Next waits for it.
    void setPolicyPending(const QString &note);
    /// Why Next is not offered, or an empty text.
    QString blockedReason() const;

public slots:
    void initializePage() override;

private:
    void onEntriesChanged();

    QWidget *calWizard;
    QLineEdit *firstNameEdit;
    QLineEdit *lastNameEdit;
    QLineEdit *companyEdit;
    QLineEdit *serialNumberEdit;
    QLineEdit *firmwareVersionEdit;
    QDateTimeEdit *calDateEdit;
    QLineEdit *calibratorMakeModelEdit;
    QLineEdit *calibratorSerialNumberEdit;
    QLineEdit *calibratorCertNumberEdit;
    QDateEdit *calibratorDueDateEdit;
    QLineEdit *uncertaintyEdit;
    QComboBox *uncertaintyUnitBox;
    QDoubleSpinBox *coverageBox;
    QLineEdit *ambientEdit;
    QDoubleSpinBox *toleranceBox;
    QComboBox *ruleBox;
    QLineEdit *procedureEdit;
    QLabel *policyNote;
    QLabel *blockedLabel; ///< why Next is not offered, in red
    LabPolicy ownPolicy; ///< this computer's settings
    bool policyKnown = true;
    bool labPolicy = false;
};
