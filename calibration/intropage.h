#pragma once

#include <QWizardPage>

class QDateEdit;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;

/// First page of the calibration wizard: who calibrates, with which reference calibrator, and
/// which sender; the editable entries are remembered between runs.
class IntroPage : public QWizardPage
{
    Q_OBJECT

public:
    explicit IntroPage(QWidget *wizard);

    bool validatePage() override;
    bool isComplete() const override;
    int nextId() const override;

public slots:
    void initializePage() override;

private:
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
    QLabel *dueWarning; ///< shown while the reference calibrator is past its due date
    QDoubleSpinBox *toleranceBox;

    void onDueDateChanged();
};
