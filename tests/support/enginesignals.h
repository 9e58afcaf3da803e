#pragma once

#include <QObject>
#include <QStringList>

class VX4Interface;

/// Records the engine's signals as short texts ("app 1", "connected", "pressure -200", ...) in the
/// order they were emitted, so tests can compare whole sequences.
class EngineSignals : public QObject
{
    Q_OBJECT

public:
    explicit EngineSignals(VX4Interface *engine, bool withTraffic = false);

    QStringList events;
    int count(const QString &event) const { return int(events.count(event)); }
    /// Events other than answers, time-outs and pressure frames.
    QStringList changes() const;
    void clear() { events.clear(); }
};
