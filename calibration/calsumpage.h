#pragma once

#include "calibrationrecord.h"

#include <QWizardPage>

#include <functional>

class HistoryService;
class QDir;
class QLabel;
class QPushButton;
class QTextEdit;

/// Last page of the calibration wizard: judges the verification readings, shows the certificate
/// of calibration, saves it as PDF and prints it, and appends the voltages to calVoltages.csv.
/// Finish keeps the wizard open until both files are written or the technician gives up.
class CalSumPage : public QWizardPage
{
    Q_OBJECT

public:
    /// The certificate's number is drawn from `history`.
    CalSumPage(QWidget *wizard, HistoryService *history);

    /// The certificate document last built.
    QString certificateHtml() const { return m_html; }
    /// The run as its certificate shows it; its PDF's SHA-256 once the PDF was written.
    CalibrationRecord &record() { return m_record; }
    /// Takes the intro page's entries and the captures into the record, as they stand now.
    void updateRecord();
    /// The run to store as it ends: for a run that did not finish, the latest captures under the
    /// number of the certificate written last, which is void.
    CalibrationRecord endRecord(bool finished);
    /// Why no certificate number could be drawn, or an empty text.
    QString numberProblem() const;
    /// A number is drawn and the certificate shows it.
    bool isComplete() const override;
    QTextEdit *certificate() const { return certificateView; }
    /// Writes the certificate as PDF under a "calibration sheets" folder; returns its path, or an
    /// empty text (after telling the user) when it could not be written.
    QString saveCertificatePdf();

    /// Asks for a folder to write to, starting at `start`; empty when the technician declines.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &start)>;
    /// Replaces the folder dialog of "Choose Folder", e.g. for tests.
    void setFolderChooser(const FolderChooser &chooser) { folderChooser = chooser; }
    /// Where Finish wrote the certificate and the voltage row; empty before it did.
    QString finishedPdf() const { return m_finishedPdf; }
    QString finishedCsv() const { return m_finishedCsv; }

public slots:
    void onPrint();
    void initializePage() override;
    bool validatePage() override;

private:
    /// Asks the history for a number; the certificate shows it once it comes.
    void drawNumber();
    void showCertificate();
    /// A certificate of the record as it stands was written (as PDF or on paper).
    void noteWritten();
    bool findSheetsDirectory(QDir &dir);
    /// The first of `candidates` that is, or can be made, a writable folder.
    bool findWritableDirectory(const QStringList &candidates, QDir &dir);
    /// Appends the voltage row in `folder`, or where the search finds room when it is empty;
    /// returns what failed and where, or an empty text.
    QString writeVoltagesCsv(const QString &folder = QString(), QString *path = nullptr);
    /// Writes the certificate PDF likewise; `path` receives the file written.
    QString writeCertificatePdf(const QString &folder, QString *path = nullptr);
    /// After a failed Finish: true to try again, with `folder` set when the technician chose one.
    bool askRetry(const QStringList &failures, QString &folder);
    /// False once the wizard has closed, e.g. because the sender was lost during a box.
    bool wizardOpen() const;
    void warn(const QString &text);

    QTextEdit *certificateView;
    QLabel *numberLabel; ///< drawing the number, or why none could be
    QPushButton *printButton;
    QPushButton *retryButton; ///< draws again after a failure
    HistoryService *history;
    QString m_html;
    CalibrationRecord m_record;
    /// The certificate written last: its number, SHA-256 and content. A record whose certificate
    /// no longer reads so gets a new number that replaces it.
    ReplacedCertificate written;
    QString writtenHtml;
    bool drawing = false;
    QString drawProblem;
    FolderChooser folderChooser;
    bool finishRowWritten = false; ///< Finish appended its voltage row since the page was entered
    QString m_finishedPdf;
    QString m_finishedCsv;
};
