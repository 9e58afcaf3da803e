#include "enginesignals.h"

#include "VX4interface.h"

EngineSignals::EngineSignals(VX4Interface *engine, bool withTraffic)
{
    using E = VX4Interface;
    const auto add = [this](const QString &text, auto value) { events.append(text.arg(value)); };
    connect(engine, &E::vx4AppChanged, this, [=](VX4App a) { add("app %1", int(a)); });
    connect(engine, &E::vx4ModeChanged, this, [=](VX4Mode m) { add("mode %1", int(m)); });
    connect(engine, &E::vx4CalDateTimeChanged, this, [=](const QDateTime &dt) {
        add("caldate %1", dt.isValid() ? dt.toString("yyyy-MM-dd HH:mm") : QString("invalid"));
    });
    connect(engine, &E::vx4FirmwareVersionChanged, this,
            [=](quint8 ma, quint8 mi) { add("firmware %1", QString("%1.%2").arg(ma).arg(mi)); });
    connect(engine, &E::vx4SerialNumberChanged, this, [=](quint16 sn) { add("serial %1", sn); });
    connect(engine, &E::vx4ADOffsetChanged, this, [=](qint16 o) { add("offset %1", o); });
    connect(engine, &E::vx4ConnectedSignal, this, [this] { events.append("connected"); });
    connect(engine, &E::vx4DisconnectedSignal, this, [this] { events.append("disconnected"); });
    if (!withTraffic)
        return;
    connect(engine, &E::vx4PressureMsgRdy, this, [=](int p) { add("pressure %1", p); });
    connect(engine, &E::vx4ResponseRdy, this,
            [=](const VX4Message &m) { add("response %1", int(m.command)); });
}
