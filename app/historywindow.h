#pragma once

#include "calibrationhistory.h"

#include <QWidget>

#include <functional>
#include <memory>

class QChart;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

/// The stored calibration runs, sender by sender: each run's outcome and as-found result, the
/// as-found errors over time, the drift since the last calibration, and a stored run's
/// certificate written again and checked against the one issued.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    /// Asks where to write a file: (parent, caption, suggested path) -> chosen path or empty.
    using FileChooser = std::function<QString(QWidget *, const QString &, const QString &)>;

    /// Reads the history at `location` at once; a history that cannot be read is explained in
    /// the window.
    explicit HistoryWindow(const HistoryLocation &location = HistoryLocation::fromSettings(),
                           QWidget *parent = nullptr);
    ~HistoryWindow() override;

    /// Replaces the save dialog, e.g. for tests; the default is QFileDialog::getSaveFileName.
    void setFileChooser(const FileChooser &chooser) { chooseFile = chooser; }

    QLabel *databaseState() const { return stateLabel; }
    QListWidget *senderList() const { return senders; }
    QTableWidget *runTable() const { return runs; }
    QLabel *driftHeading() const { return driftLabel; }
    QTableWidget *driftTable() const { return drift; }
    QChart *errorChart() const { return chart; }
    QPushButton *writeCertificateButton() const { return writeButton; }
    QLabel *certificateCheck() const { return checkLabel; }

public slots:
    /// Reads the list of senders again and shows the first.
    void reload();

private slots:
    void onSenderChosen(int row);
    void onRunChosen(int row);
    void onUIWriteCertificateAgainClicked();

private:
    void showChart();

    std::unique_ptr<CalibrationHistory> history;
    QList<CalibrationRecord> senderRuns; ///< the chosen sender's, newest first
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
