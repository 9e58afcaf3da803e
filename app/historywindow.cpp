#include "historywindow.h"

#include "calibrationtrend.h"
#include "certificate.h"
#include "vx4log.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>

#define LOG VX4_LOG("historywindow")

namespace {

constexpr qint64 DayMs = 24 * 60 * 60 * 1000; ///< widens the time axis around a single run
constexpr double MinErrorRangePsi = 1; ///< the error axis spans at least this much

enum RunColumn { DateColumn, CertificateColumn, OutcomeColumn, TechnicianColumn, AsFoundColumn };

QString psi(double value)
{
    return QString::asprintf("%+.2f", value);
}

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QTableWidget *table(const QStringList &headings, QWidget *parent)
{
    auto *t = new QTableWidget(0, int(headings.size()), parent);
    t->setHorizontalHeaderLabels(headings);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

} // namespace

HistoryWindow::HistoryWindow(const HistoryLocation &location, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , history(std::make_unique<CalibrationHistory>(location))
    , chooseFile([](QWidget *parent, const QString &caption, const QString &suggested) {
        return QFileDialog::getSaveFileName(parent, caption, suggested, tr("PDF files (*.pdf)"));
    })
{
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(tr("Calibration History"));
    resize(1100, 760);

    stateLabel = new QLabel(this);
    stateLabel->setWordWrap(true);
    stateLabel->hide();

    auto *senderColumn = new QWidget(this);
    auto *senderLayout = new QVBoxLayout(senderColumn);
    senderLayout->setContentsMargins(0, 0, 0, 0);
    senderLayout->addWidget(new QLabel(tr("Senders by serial number:"), senderColumn));
    senders = new QListWidget(senderColumn);
    senderLayout->addWidget(senders, 1);
    runs = table({ tr("Date"), tr("Certificate"), tr("Outcome"), tr("Technician"), tr("As found") },
                 this);
    chart = new QChart;
    chart->setTitle(tr("As-found error per set point"));
    auto *chartView = new QChartView(chart, this);
    chartView->setRenderHint(QPainter::Antialiasing);
    chartView->setMinimumHeight(260);
    driftLabel = new QLabel(this);
    driftLabel->setWordWrap(true);
    drift = table({ tr("Set point (PSI)"), tr("As-found error (PSI)"),
                    tr("Previous as-left error (PSI)"), tr("Drift (PSI)") },
                  this);
    drift->setRowCount(CalibrationRecord::PointCount);
    drift->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    drift->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    drift->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    drift->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    writeButton = new QPushButton(tr("Write Certificate Again…"), this);
    writeButton->setEnabled(false);
    checkLabel = new QLabel(this);
    checkLabel->setWordWrap(true);
    checkLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *right = new QWidget(this);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(runs, 2);
    rightLayout->addWidget(chartView, 3);
    rightLayout->addWidget(driftLabel);
    rightLayout->addWidget(drift);
    auto *certificateRow = new QHBoxLayout;
    certificateRow->addWidget(writeButton);
    certificateRow->addWidget(checkLabel, 1);
    rightLayout->addLayout(certificateRow);
    auto *splitter = new QSplitter(this);
    splitter->addWidget(senderColumn);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ 180, 900 });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(stateLabel);
    layout->addWidget(splitter, 1);

    connect(senders, &QListWidget::currentRowChanged, this, &HistoryWindow::onSenderChosen);
    connect(runs, &QTableWidget::currentCellChanged, this, [this](int row) { onRunChosen(row); });
    connect(writeButton, &QPushButton::clicked, this,
            &HistoryWindow::onUIWriteCertificateAgainClicked);
    reload();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::reload()
{
    const QSignalBlocker quiet(senders);
    // Read again, the window stays with the sender it showed.
    const QVariant shown
        = senders->currentItem() ? senders->currentItem()->data(Qt::UserRole) : QVariant();
    senders->clear();
    QString error;
    const HistoryLocation &where = history->location();
    // Runs that waited for the database are stored as soon as it can be written again; when it
    // cannot even be opened, it is not tried a second time for the list.
    const bool unreachable = history->pendingCount() > 0 && history->flushPending(&error) < 0;
    // Looking at a history that was never written leaves no empty database behind.
    const bool neverWritten
        = where.backend == HistoryLocation::Backend::Sqlite && !QFileInfo::exists(where.sqliteFile);
    const auto list = unreachable ? std::nullopt
        : neverWritten            ? std::optional(QList<CalibrationHistory::Sender>())
                                  : history->senders(&error);
    QStringList notes;
    if (!list) {
        LOG << "The history cannot be read:" << error;
        notes << tr("The calibration history cannot be read: %1").arg(error);
    } else if (list->isEmpty()) {
        notes << tr("No calibration run is stored in %1 yet.").arg(where.describe());
    }
    const int pending = history->pendingCount();
    if (pending > 0)
        notes << tr("%1 waiting in \"%2\": stored once the database can be written again, "
                    "with the next run or when this window reads the history.")
                     .arg(pending == 1 ? tr("1 run is") : tr("%1 runs are").arg(pending),
                          where.pendingFile);
    stateLabel->setText(notes.join(QLatin1Char('\n')));
    stateLabel->setVisible(!notes.isEmpty());
    for (const CalibrationHistory::Sender &s : list.value_or(QList<CalibrationHistory::Sender>())) {
        auto *item = new QListWidgetItem(s.runs == 1 ? tr("%1 (1 run)").arg(s.serial)
                                                     : tr("%1 (%2 runs)").arg(s.serial).arg(s.runs),
                                         senders);
        item->setData(Qt::UserRole, s.serial);
    }
    int row = senders->count() > 0 ? 0 : -1;
    for (int i = 0; i < senders->count(); ++i)
        row = senders->item(i)->data(Qt::UserRole) == shown ? i : row;
    senders->setCurrentRow(row);
    onSenderChosen(row);
}

void HistoryWindow::onSenderChosen(int row)
{
    senderRuns.clear();
    if (row >= 0) {
        // One sender's runs only: a long history is never read whole.
        const QString serial = senders->item(row)->data(Qt::UserRole).toString();
        QString error;
        const auto list = history->runs(serial, &error);
        if (list) {
            senderRuns = *list;
        } else {
            LOG << "The runs of" << serial << "cannot be read:" << error;
            stateLabel->setText(tr("The runs of sender %1 cannot be read: %2").arg(serial, error));
            stateLabel->show();
        }
    }
    const QSignalBlocker quiet(runs);
    runs->setRowCount(int(senderRuns.size()));
    for (int i = 0; i < senderRuns.size(); ++i) {
        const CalibrationRecord &r = senderRuns.at(i);
        QString outcome = CalibrationRecord::outcomeText(r.outcome);
        outcome[0] = outcome.at(0).toUpper();
        if (!r.reason.isEmpty())
            outcome += QStringLiteral(": ") + r.reason;
        std::optional<double> worst;
        for (const CalibrationPoint &p : r.points) {
            if (p.asFoundCapture != Capture::None
                && (!worst || std::abs(p.asFoundError()) > std::abs(*worst)))
                worst = p.asFoundError();
        }
        QString asFound = tr("not captured");
        if (worst)
            asFound = (r.asFoundOutOfTolerance() ? tr("outside ±%1 PSI, largest error %2 PSI")
                                                 : tr("within ±%1 PSI, largest error %2 PSI"))
                          .arg(QString::number(r.tolerancePsi), psi(*worst));
        const QDateTime when = CalibrationTrend::when(r).toLocalTime();
        runs->setItem(i, DateColumn, cell(when.toString(QStringLiteral("yyyy-MM-dd hh:mm"))));
        runs->setItem(i, CertificateColumn, cell(r.certificateNumber));
        runs->setItem(i, OutcomeColumn, cell(outcome));
        runs->setItem(i, TechnicianColumn, cell(r.technician));
        runs->setItem(i, AsFoundColumn, cell(asFound));
    }
    runs->resizeColumnsToContents();
    showChart();
    runs->setCurrentCell(senderRuns.isEmpty() ? -1 : 0, 0);
    onRunChosen(runs->currentRow());
}

void HistoryWindow::showChart()
{
    chart->removeAllSeries();
    for (QAbstractAxis *axis : chart->axes()) {
        chart->removeAxis(axis); // hands the axis back to us
        delete axis;
    }
    if (senderRuns.isEmpty())
        return;
    auto *time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("yyyy-MM-dd"));
    time->setTitleText(tr("Calibration date"));
    auto *error = new QValueAxis;
    error->setTitleText(tr("PSI"));
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(error, Qt::AlignLeft);
    const auto points = CalibrationTrend::asFoundErrors(senderRuns);
    double low = 0, high = 0;
    qint64 first = CalibrationTrend::when(senderRuns.constLast()).toMSecsSinceEpoch();
    qint64 last = CalibrationTrend::when(senderRuns.constFirst()).toMSecsSinceEpoch();
    for (size_t i = 0; i < points.size(); ++i) {
        auto *series = new QLineSeries;
        series->setName(tr("%1 PSI").arg(senderRuns.constFirst().points[i].setPoint));
        series->setPointsVisible(true);
        series->replace(points[i]);
        for (const QPointF &p : points[i]) {
            low = std::min(low, p.y());
            high = std::max(high, p.y());
        }
        chart->addSeries(series);
        series->attachAxis(time);
        series->attachAxis(error);
    }
    if (first == last) {
        first -= DayMs;
        last += DayMs;
    }
    time->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
    const double margin = std::max(MinErrorRangePsi, high - low) * 0.1;
    error->setRange(low - margin, high + margin);
    error->applyNiceNumbers();
}

void HistoryWindow::onRunChosen(int row)
{
    checkLabel->clear();
    const CalibrationRecord *run
        = row >= 0 && row < senderRuns.size() ? &senderRuns.at(row) : nullptr;
    const CalibrationRecord *previous
        = run ? CalibrationTrend::previousFinished(senderRuns, row) : nullptr;
    if (!run)
        driftLabel->setText(tr("Choose a run to see its drift since the calibration before it."));
    else if (!previous)
        driftLabel->setText(tr("Drift of %1: no earlier finished run of this sender is stored.")
                                .arg(run->certificateNumber));
    else
        driftLabel->setText(tr("Drift of %1 since %2 of %3: this run's as-found error minus "
                               "that run's as-left error.")
                                .arg(run->certificateNumber, previous->certificateNumber,
                                     CalibrationTrend::when(*previous).toLocalTime().toString(
                                         QStringLiteral("yyyy-MM-dd"))));
    const CalibrationTrend::PerPoint drifts
        = previous ? CalibrationTrend::drift(*run, *previous) : CalibrationTrend::PerPoint();
    const QString none = QStringLiteral("—");
    for (int i = 0; i < CalibrationRecord::PointCount; ++i) {
        const CalibrationPoint *p = run ? &run->points[size_t(i)] : nullptr;
        const CalibrationPoint *before = previous ? &previous->points[size_t(i)] : nullptr;
        drift->setItem(i, 0, cell(p ? QString::number(p->setPoint) : none));
        drift->setItem(
            i, 1, cell(p && p->asFoundCapture != Capture::None ? psi(p->asFoundError()) : none));
        drift->setItem(i, 2,
                       cell(before && before->asLeftCapture != Capture::None
                                ? psi(before->asLeftError())
                                : none));
        drift->setItem(i, 3, cell(drifts[size_t(i)] ? psi(*drifts[size_t(i)]) : none));
    }

    const bool finished = run && run->outcome == CalibrationRecord::Outcome::Finished;
    writeButton->setEnabled(finished && !run->pdfSha256.isEmpty());
    if (run && !finished)
        checkLabel->setText(tr("Only a finished run has a certificate."));
    else if (run && run->pdfSha256.isEmpty())
        checkLabel->setText(tr("No issued certificate's SHA-256 is stored for this run."));
}

void HistoryWindow::onUIWriteCertificateAgainClicked()
{
    const int row = runs->currentRow();
    if (row < 0 || row >= senderRuns.size())
        return;
    const CalibrationRecord &run = senderRuns.at(row);
    const QString path = chooseFile(
        this, tr("Write Certificate %1 Again").arg(run.certificateNumber),
        QDir::home().filePath(Certificate::pdfFileName(run.senderSerial, run.calibrated)));
    if (path.isEmpty())
        return;
    const QByteArray bytes = Certificate::pdf(run);
    QSaveFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()
        || !file.commit()) {
        LOG << "Could not write" << path << file.errorString();
        checkLabel->setText(
            tr("The certificate could not be written to \"%1\": %2").arg(path, file.errorString()));
        return;
    }
    const QString hash = Certificate::sha256(bytes);
    LOG << "Wrote the certificate of" << run.certificateNumber << "again to" << path << hash;
    if (hash.compare(run.pdfSha256, Qt::CaseInsensitive) == 0)
        checkLabel->setText(tr("Written to \"%1\". It matches the issued certificate "
                               "(SHA-256 %2).")
                                .arg(path, hash));
    else
        checkLabel->setText(
            tr("Written to \"%1\". It does not match the issued certificate: SHA-256 %2, issued "
               "%3. The figures are the stored ones; a computer whose fonts differ from those of "
               "the one that issued it writes different bytes.")
                .arg(path, hash, run.pdfSha256));
}
