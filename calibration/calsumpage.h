#pragma once

#include <QWizardPage>

class QDir;
class QTextEdit;

/// Last page of the calibration wizard: judges the verification readings, shows the certificate
/// of calibration, saves it as PDF and prints it, and appends the voltages to calVoltages.csv.
class CalSumPage : public QWizardPage
{
    Q_OBJECT

public:
    explicit CalSumPage(QWidget *wizard);

    /// The certificate document last built.
    QString certificateHtml() const { return m_html; }
    QTextEdit *certificate() const { return certificateView; }
    /// Writes the certificate as PDF under a "calibration sheets" folder; returns its path, or an
    /// empty text (after telling the user) when it could not be written.
    QString saveCertificatePdf();

public slots:
    void onPrint();
    void initializePage() override;
    bool validatePage() override;

private:
    bool findSheetsDirectory(QDir &dir);
    void writeVoltagesCsv();
    void warn(const QString &text);

    QTextEdit *certificateView;
    QString m_html;
};
