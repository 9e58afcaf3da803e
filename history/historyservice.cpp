#include "historyservice.h"

#include "vx4log.h"

#include <QAtomicInt>
#include <QThread>

#define LOG VX4_LOG("historyservice")

namespace {

QAtomicInt leftBehind;

/// Lives on the service's thread and owns the history there: a database connection may only be
/// used by the thread that opened it.
class HistoryWorker : public QObject
{
    Q_OBJECT

public:
    explicit HistoryWorker(const HistoryLocation &location)
        : location(location)
    {
    }

    CalibrationHistory &history()
    {
        if (!m_history)
            m_history = std::make_unique<CalibrationHistory>(location);
        return *m_history;
    }
    /// Closes the connection on the thread that opened it.
    void close() { m_history.reset(); }

signals:
    void done(quint64 id, const HistoryService::Delivery &delivery);

private:
    HistoryLocation location;
    std::unique_ptr<CalibrationHistory> m_history;
};

/// The worker's thread; one that was left behind is counted until it is gone.
class WorkerThread : public QThread
{
public:
    ~WorkerThread() override
    {
        if (abandoned)
            leftBehind.fetchAndAddRelaxed(-1);
    }
    bool abandoned = false;
};

} // namespace

Q_DECLARE_METATYPE(HistoryService::Delivery)

HistoryService::HistoryService(const HistoryLocation &location, QObject *parent)
    : QObject(parent)
    , m_location(location)
    , m_thread(new WorkerThread)
{
    qRegisterMetaType<Delivery>();
    m_thread->setObjectName(QStringLiteral("history"));
    auto *worker = new HistoryWorker(location);
    worker->moveToThread(m_thread);
    m_worker = worker;
    connect(worker, &HistoryWorker::done, this, &HistoryService::deliver, Qt::QueuedConnection);
    m_thread->start();
}

HistoryService::~HistoryService()
{
    auto *worker = static_cast<HistoryWorker *>(m_worker);
    disconnect(worker, nullptr, this, nullptr);
    QMetaObject::invokeMethod(
        worker, [worker] { worker->close(); }, Qt::QueuedConnection);
    m_thread->quit();
    if (!busy()) {
        m_thread->wait();
        delete worker;
        delete m_thread;
        return;
    }
    // Still working, perhaps on a server that never answers: the thread ends on its own once
    // the job returns, and takes its objects with it; the program does not wait for it.
    static_cast<WorkerThread *>(m_thread)->abandoned = true;
    leftBehind.fetchAndAddRelaxed(1);
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
}

void HistoryService::linkSenders(const QString &oldSerial, const QString &newSerial)
{
    if (oldSerial.trimmed() == newSerial.trimmed())
        return;
    auto *service = new HistoryService;
    service->run<CalibrationHistory::StoreResult>(
        service, [=](CalibrationHistory &h) { return h.linkSenders(oldSerial, newSerial); },
        [=](const CalibrationHistory::StoreResult &result) {
            LOG << "Serial" << oldSerial << "linked to" << newSerial << result.error;
            service->deleteLater();
        });
}

int HistoryService::workersLeftBehind()
{
    return leftBehind.loadRelaxed();
}

void HistoryService::submit(QObject *context, std::function<Delivery(CalibrationHistory &)> job)
{
    const quint64 id = ++m_nextId;
    const bool wasBusy = busy();
    m_contexts.insert(id, { context, context != nullptr });
    auto *worker = static_cast<HistoryWorker *>(m_worker);
    QMetaObject::invokeMethod(
        worker, [worker, job, id] { emit worker->done(id, job(worker->history())); },
        Qt::QueuedConnection);
    if (!wasBusy)
        emit busyChanged(true);
}

void HistoryService::deliver(quint64 id, const Delivery &delivery)
{
    const Pending pending = m_contexts.take(id);
    if (!pending.hasContext || pending.context)
        delivery();
    if (!busy())
        emit busyChanged(false);
}

#include "historyservice.moc"
