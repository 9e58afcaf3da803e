#pragma once

#include <QObject>
#include <QStringList>

class VX4Interface;

/// Records the engine's signals as short texts ("app 1", "connected", "pressure -200", ...) in the
/// order they were emitted, so tests can compare whole sequences. Answers and pressure
/// frames only `withTraffic`.
class EngineSignals : public QObject
{
    Q_OBJECT

public:
    explicit EngineSignals(VX4Interface *engine, bool withTraffic = false);

    QStringList events;
};
