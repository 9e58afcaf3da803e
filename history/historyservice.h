#pragma once

#include "calibrationhistory.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QThread;

/// The history for a window: every piece of database work runs on a thread of its own with its
/// own connection, and its result comes back on the window's thread, so that a database that is
/// slow or stalled never stops the window from repainting. A job that never returns is left
/// behind when the service goes, so that it cannot keep the program from quitting.
class HistoryService : public QObject
{
    Q_OBJECT

public:
    using Delivery = std::function<void()>;

    explicit HistoryService(const HistoryLocation &location = HistoryLocation::fromSettings(),
                            QObject *parent = nullptr);
    ~HistoryService() override;

    const HistoryLocation &location() const { return m_location; }
    /// Runs `job` on the worker's history; `done` gets its result on this object's thread, unless
    /// `context` (when given) is gone by then.
    template<typename Result>
    void run(QObject *context, std::function<Result(CalibrationHistory &)> job,
             std::function<void(const Result &)> done)
    {
        submit(context, [job, done](CalibrationHistory &history) -> Delivery {
            Result result = job(history);
            return [done, result] { done(result); };
        });
    }
    /// A job is queued or running.
    bool busy() const { return !m_contexts.isEmpty(); }
    /// Records, off the caller's thread, that a firmware update turned `oldSerial` into
    /// `newSerial` in the history the settings name; nothing when they are the same. For the
    /// window's update flow: it returns at once, and the link waits in the pending file when
    /// the database cannot be written.
    static void linkSenders(const QString &oldSerial, const QString &newSerial);
    /// Workers of services already gone whose job has not returned yet.
    static int workersLeftBehind();

signals:
    void busyChanged(bool busy);

private:
    struct Pending
    {
        QPointer<QObject> context;
        bool hasContext = false;
    };
    void submit(QObject *context, std::function<Delivery(CalibrationHistory &)> job);
    void deliver(quint64 id, const Delivery &delivery);

    HistoryLocation m_location;
    QThread *m_thread = nullptr;
    QObject *m_worker = nullptr;
    QHash<quint64, Pending> m_contexts;
    quint64 m_nextId = 0;
};
