#pragma once

#include "calibrationhistory.h"
#include "instruments.h"

#include <QWidget>

#include <functional>

class HistoryService;
class QChart;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

/// The stored calibration runs, instrument by instrument (a sender under all the serial texts its
/// firmware updates gave it): each run's outcome, result and as-found result, the as-found errors
/// over time, the drift since the calibration the sender held, and a stored run's certificate
/// written again and checked against the one issued. The history is read off the window's thread.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    /// Asks where to write a file: (parent, caption, suggested path) -> chosen path or empty.
    using FileChooser = std::function<QString(QWidget *, const QString &, const QString &)>;

    /// Starts reading the history at `location`; a history that cannot be read is explained in
    /// the window.
    explicit HistoryWindow(const HistoryLocation &location = HistoryLocation::fromSettings(),
                           QWidget *parent = nullptr);
    ~HistoryWindow() override;

    /// Replaces the save dialog, e.g. for tests; the default is QFileDialog::getSaveFileName.
    void setFileChooser(const FileChooser &chooser) { chooseFile = chooser; }
    /// The history is being read.
    bool isReading() const;

    QLabel *databaseState() const { return stateLabel; }
    QListWidget *senderList() const { return senders; }
    QTableWidget *runTable() const { return runs; }
    QLabel *driftHeading() const { return driftLabel; }
    QTableWidget *driftTable() const { return drift; }
    QChart *errorChart() const { return chart; }
    QPushButton *writeCertificateButton() const { return writeButton; }
    QLabel *certificateCheck() const { return checkLabel; }

public slots:
    /// Reads the list of senders again and shows the one shown before, or the first.
    void reload();

private slots:
    void onSenderChosen(int row);
    void onRunChosen(int row);
    void onUIWriteCertificateAgainClicked();

private:
    struct Overview;
    void showOverview(const Overview &overview);
    void showRuns(const QList<CalibrationRecord> &list, const QString &error);
    void showChart();
    void showCertificateState(const CalibrationRecord *run);

    HistoryService *history;
    QList<Instrument> instruments;
    QList<CalibrationRecord> senderRuns; ///< the chosen instrument's, newest first
    QString shownSerial; ///< the instrument shown, by its current serial text
    QStringList notes; ///< what the window says of the history as a whole
    FileChooser chooseFile;

    QLabel *stateLabel = nullptr;
    QListWidget *senders = nullptr;
    QTableWidget *runs = nullptr;
    QChart *chart = nullptr;
    QLabel *driftLabel = nullptr;
    QTableWidget *drift = nullptr;
    QPushButton *writeButton = nullptr;
    QLabel *checkLabel = nullptr;
};
