#include "enginesignals.h"

#include "VX4interface.h"

EngineSignals::EngineSignals(VX4Interface *engine, bool withTraffic)
{
    auto add = [this](const QString &event) { events.append(event); };
    connect(engine, &VX4Interface::vx4AppChanged, this,
            [add](VX4App a) { add(QStringLiteral("app %1").arg(int(a))); });
    connect(engine, &VX4Interface::vx4ModeChanged, this,
            [add](VX4Mode m) { add(QStringLiteral("mode %1").arg(int(m))); });
    connect(engine, &VX4Interface::vx4CalDateTimeChanged, this, [add](const QDateTime &dt) {
        add(QStringLiteral("caldate %1")
                .arg(dt.isValid() ? dt.toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                  : QStringLiteral("invalid")));
    });
    connect(engine, &VX4Interface::vx4FirmwareVersionChanged, this,
            [add](quint8 ma, quint8 mi) { add(QStringLiteral("firmware %1.%2").arg(ma).arg(mi)); });
    connect(engine, &VX4Interface::vx4SerialNumberChanged, this,
            [add](quint16 sn) { add(QStringLiteral("serial %1").arg(sn)); });
    connect(engine, &VX4Interface::vx4ADOffsetChanged, this,
            [add](qint16 o) { add(QStringLiteral("offset %1").arg(o)); });
    connect(engine, &VX4Interface::vx4ConnectedSignal, this,
            [add]() { add(QStringLiteral("connected")); });
    connect(engine, &VX4Interface::vx4DisconnectedSignal, this,
            [add]() { add(QStringLiteral("disconnected")); });
    if (!withTraffic)
        return;
    connect(engine, &VX4Interface::vx4PressureMsgRdy, this,
            [add](int p, const VX4Message &) { add(QStringLiteral("pressure %1").arg(p)); });
    connect(engine, &VX4Interface::vx4ResponseRdy, this,
            [add](const VX4Message &m) { add(QStringLiteral("response %1").arg(m.command)); });
    connect(engine, &VX4Interface::vx4MessageTimeout, this,
            [add](const VX4Message &m) { add(QStringLiteral("timeout %1").arg(m.command)); });
}

QStringList EngineSignals::changes() const
{
    QStringList result;
    for (const QString &e : events) {
        if (!e.startsWith(QLatin1String("pressure")) && !e.startsWith(QLatin1String("response"))
            && !e.startsWith(QLatin1String("timeout")))
            result.append(e);
    }
    return result;
}
