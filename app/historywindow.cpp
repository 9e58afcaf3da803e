#include "historywindow.h"

#include "calibrationtrend.h"
#include "certificate.h"
#include "historyservice.h"
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

enum RunColumn {
    DateColumn,
    CertificateColumn,
    OutcomeColumn,
    ResultColumn,
    TechnicianColumn,
    AsFoundColumn
};

QString resultText(Verdict result)
{
    switch (result) {
    case Verdict::Passed:
        return HistoryWindow::tr("within tolerance");
    case Verdict::Conditional:
        return HistoryWindow::tr("conditional");
    case Verdict::Failed:
        return HistoryWindow::tr("OUT OF TOLERANCE");
    case Verdict::NotTaken:
        break;
    }
    return HistoryWindow::tr("not verified");
}

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
    , history(new HistoryService(location, this))
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
    runs = table({ tr("Date"), tr("Certificate"), tr("Outcome"), tr("Result"), tr("Technician"),
                   tr("As found") },
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

struct HistoryWindow::Overview
{
    std::optional<QList<Instrument>> instruments;
    QString error;
    int pending = 0;
};

bool HistoryWindow::isReading() const
{
    return history->busy();
}

void HistoryWindow::reload()
{
    stateLabel->setText(tr("Reading the calibration history\u2026"));
    stateLabel->show();
    const HistoryLocation where = history->location();
    history->run<Overview>(
        this,
        [where](CalibrationHistory &h) {
            Overview o;
            // Runs that waited for the database are stored as soon as it can be written again;
            // when it cannot even be opened, it is not tried a second time for the list.
            const bool unreachable = h.pendingCount() > 0 && h.flushPending(&o.error) < 0;
            // Looking at a history that was never written leaves no empty database behind.
            const bool neverWritten = where.backend == HistoryLocation::Backend::Sqlite
                && !QFileInfo::exists(where.sqliteFile);
            if (neverWritten) {
                o.instruments = QList<Instrument>();
            } else if (!unreachable) {
                const auto list = h.senders(&o.error);
                const auto links = list ? h.links(&o.error) : std::nullopt;
                if (list && links)
                    o.instruments = Instrument::group(*list, *links);
            }
            o.pending = h.pendingCount();
            return o;
        },
        [this](const Overview &o) { showOverview(o); });
}

void HistoryWindow::showOverview(const Overview &o)
{
    const QSignalBlocker quiet(senders);
    // Read again, the window stays with the sender it showed.
    const QString shown = shownSerial;
    senders->clear();
    const HistoryLocation &where = history->location();
    notes.clear();
    if (!o.instruments) {
        LOG << "The history cannot be read:" << o.error;
        notes << tr("The calibration history cannot be read: %1").arg(o.error);
    } else if (o.instruments->isEmpty()) {
        notes << tr("No calibration run is stored in %1 yet.").arg(where.describe());
    }
    if (o.pending > 0)
        notes << tr("%1 waiting in \"%2\": stored once the database can be written again, "
                    "with the next run or when this window reads the history.")
                     .arg(o.pending == 1 ? tr("1 run is") : tr("%1 runs are").arg(o.pending),
                          where.pendingFile);
    stateLabel->setText(notes.join(QLatin1Char('\n')));
    stateLabel->setVisible(!notes.isEmpty());
    instruments = o.instruments.value_or(QList<Instrument>());
    int row = instruments.isEmpty() ? -1 : 0;
    for (int i = 0; i < instruments.size(); ++i) {
        const Instrument &s = instruments.at(i);
        new QListWidgetItem(s.runs == 1 ? tr("%1 (1 run)").arg(s.name())
                                        : tr("%1 (%2 runs)").arg(s.name()).arg(s.runs),
                            senders);
        row = s.serials.contains(shown) ? i : row;
    }
    senders->setCurrentRow(row);
    onSenderChosen(row);
}

void HistoryWindow::onSenderChosen(int row)
{
    senderRuns.clear();
    shownSerial = row >= 0 && row < instruments.size() ? instruments.at(row).serial() : QString();
    if (shownSerial.isEmpty())
        return showRuns({}, {});
    // One instrument's runs only, under each of its serial texts: a long history is never read
    // whole.
    const QStringList serials = instruments.at(row).serials;
    history->run<std::pair<QList<CalibrationRecord>, QString>>(
        this,
        [serials](CalibrationHistory &h) {
            QString error;
            const auto list = h.runs(serials, &error);
            return std::pair(list.value_or(QList<CalibrationRecord>()), list ? QString() : error);
        },
        [this, shown = shownSerial](const std::pair<QList<CalibrationRecord>, QString> &answer) {
            // A sender chosen since has its own answer coming.
            if (shown == shownSerial)
                showRuns(answer.first, answer.second);
        });
}

void HistoryWindow::showRuns(const QList<CalibrationRecord> &list, const QString &error)
{
    senderRuns = list;
    if (!error.isEmpty()) {
        LOG << "The runs of" << shownSerial << "cannot be read:" << error;
        stateLabel->setText((notes
                             + QStringList { tr("The runs of sender %1 cannot be read: %2")
                                                 .arg(shownSerial, error) })
                                .join(QLatin1Char('\n')));
        stateLabel->show();
    }
    const QSignalBlocker quiet(runs);
    runs->setRowCount(int(senderRuns.size()));
    for (int i = 0; i < senderRuns.size(); ++i) {
        const CalibrationRecord &r = senderRuns.at(i);
        const bool finished = r.outcome == CalibrationRecord::Outcome::Finished;
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
        QString certificate = r.certificateNumber + (finished ? QString() : tr(" (void)"));
        if (!r.replaces.isEmpty())
            certificate += tr(", replaces %1").arg(r.replaces);
        const QDateTime when = CalibrationTrend::when(r).toLocalTime();
        runs->setItem(i, DateColumn, cell(when.toString(QStringLiteral("yyyy-MM-dd hh:mm"))));
        runs->setItem(i, CertificateColumn, cell(certificate));
        runs->setItem(i, OutcomeColumn, cell(outcome));
        runs->setItem(i, ResultColumn, cell(resultText(r.result())));
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
    const CalibrationRecord *previous = run ? CalibrationTrend::baseline(senderRuns, row) : nullptr;
    if (!run)
        driftLabel->setText(tr("Choose a run to see its drift since the calibration before it."));
    else if (!previous)
        driftLabel->setText(tr("Drift of %1: no earlier run whose calibration the sender took "
                               "is stored.")
                                .arg(run->certificateNumber));
    else
        driftLabel->setText(tr("Drift of %1 since %2 of %3, the calibration the sender held: "
                               "this run's as-found error minus that run's as-left error.")
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
    showCertificateState(run);
}

void HistoryWindow::showCertificateState(const CalibrationRecord *run)
{
    const bool finished = run && run->outcome == CalibrationRecord::Outcome::Finished;
    writeButton->setEnabled(finished && !run->pdfSha256.isEmpty());
    if (!run)
        return;
    QStringList lines;
    if (!finished && !run->pdfSha256.isEmpty())
        lines << tr("Certificate %1 was written (SHA-256 %2), then the run was %3: it is void.")
                     .arg(run->certificateNumber, run->pdfSha256,
                          CalibrationRecord::outcomeText(run->outcome));
    else if (!finished)
        lines << tr("The run was %1 before a certificate was written: its number %2 is void.")
                     .arg(CalibrationRecord::outcomeText(run->outcome), run->certificateNumber);
    else if (run->pdfSha256.isEmpty())
        lines << tr("No issued certificate's SHA-256 is stored for this run.");
    for (const ReplacedCertificate &c : run->replaced)
        lines << tr("Certificate %1 (SHA-256 %2) was written for this run before its figures "
                    "changed, and is replaced.")
                     .arg(c.number, c.pdfSha256);
    checkLabel->setText(lines.join(QLatin1Char('\n')));
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
