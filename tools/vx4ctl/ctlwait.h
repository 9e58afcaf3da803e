#pragma once

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

/// Runs the event loop until `done()` holds or `timeoutMs` pass (negative: no limit); true when
/// `done()` holds. The condition is checked each time the loop has handled what was pending,
/// so a wait ends as soon as its answer is in, without polling.
template<typename Condition> bool waitUntil(Condition done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = QObject::connect(QAbstractEventDispatcher::instance(),
                                        &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
                                            if (done())
                                                loop.quit();
                                        });
    if (timeoutMs >= 0)
        limit.start(timeoutMs);
    loop.exec();
    QObject::disconnect(check);
    return done();
}
