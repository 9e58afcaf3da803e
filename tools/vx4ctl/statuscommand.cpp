#include "adstatus.h"
#include "commandsupport.h"
#include "ctloptions.h"
#include "ctlreport.h"
#include "ctlwait.h"
#include "senderidentity.h"
#include "sendersession.h"
#include "servicecommands.h"
#include "stopsignal.h"

#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

using namespace VX4Protocol;
using namespace CommandSupport;

namespace ServiceCommands {

namespace {

constexpr int AdCountsPeriodMs = 250; ///< A/D readings asked for in calibration mode

/// One sender's status: its fields by name for JSON and the table, or why there is none.
struct SenderStatus
{
    int code = ExitDone;
    QString error;
    QJsonObject object;
    QStringList lines; ///< "name: value", the form of a single sender
    QString reading; ///< the short form for a table
};

SenderStatus failed(int code, const QString &why)
{
    SenderStatus status;
    status.code = code;
    status.error = why;
    return status;
}

/// Reads a connected sender's identity and one reading.
SenderStatus readStatus(SenderSession &s)
{
    VX4Interface &e = s.engine();
    SenderStatus st;
    st.object = { { "port", s.port() }, { "application", appName(e.app()) } };
    st.lines << QStringLiteral("port: %1").arg(s.port());
    if (e.app() != PressureSendingApp) {
        st.lines << QStringLiteral("application: %1").arg(VX4Interface::appText(e.app()));
        return st;
    }
    const bool hasOffset = VX4Identity::firmwareHasAdOffset(e.firmwareMajor(), e.firmwareMinor());
    const QDateTime calibrated = e.calDateTime();
    st.object.insert("serialNumber", e.serialNumber());
    st.object.insert("serialNumberText", e.serialNumberString());
    st.object.insert("firmwareVersion", e.firmwareVersionString());
    st.object.insert("mode", modeName(e.mode()));
    st.object.insert("calibrationDate",
                     calibrated.isValid()
                         ? QJsonValue(calibrated.toString(QStringLiteral("yyyy-MM-ddTHH:mm")))
                         : QJsonValue());
    st.object.insert("adOffset", hasOffset ? QJsonValue(e.adOffset()) : QJsonValue());
    st.lines << QStringLiteral("serial number: %1").arg(e.serialNumberString())
             << QStringLiteral("firmware version: %1").arg(e.firmwareVersionString())
             << QStringLiteral("application: %1").arg(VX4Interface::appText(e.app()))
             << QStringLiteral("mode: %1").arg(VX4Interface::modeText(e.mode()))
             << QStringLiteral("calibration date: %1")
                    .arg(calibrated.isValid()
                             ? calibrated.toString(QStringLiteral("yyyy-MM-dd hh:mm AP"))
                             : QStringLiteral("Not calibrated"))
             << QStringLiteral("A/D offset: %1")
                    .arg(hasOffset ? QString::number(e.adOffset()) : QStringLiteral("N/A"));

    // The reading: the next pressure frame, or in calibration mode the A/D counts the wizard
    // reads.
    if (e.mode() == CalibrationMode) {
        VX4Message answer;
        if (!s.request(
                GetAdCounts, [&e] { e.requestADCounts(); }, &answer))
            return failed(ExitSenderFailed,
                          QStringLiteral("the sender did not answer the A/D counts request"));
        const quint8 adStatus = answer.payload.isEmpty() ? 0xFF : quint8(answer.payload.at(0));
        const double volts = VX4AdStatus::countsToVolts(answer.payload);
        st.object.insert("volts", volts);
        st.object.insert("adStatus", adStatusText(adStatus));
        st.reading = QStringLiteral("%1 V (%2)").arg(volts, 0, 'f', 4).arg(adStatusText(adStatus));
    } else {
        int psi = 0;
        quint8 adStatus = 0;
        if (!s.nextReading(SenderSession::ReadingWaitMs, &psi, &adStatus))
            return failed(ExitSenderFailed,
                          QStringLiteral("the sender sent no reading within %1 ms")
                              .arg(SenderSession::ReadingWaitMs));
        const bool ok = adStatus == VX4AdStatus::Ok;
        st.object.insert("pressurePsi", ok ? QJsonValue(psi) : QJsonValue());
        st.object.insert("adStatus", adStatusText(adStatus));
        st.reading = QStringLiteral("%1 (%2)").arg(ok ? QStringLiteral("%1 PSI").arg(psi)
                                                      : QStringLiteral("----"),
                                                   adStatusText(adStatus));
    }
    st.lines << QStringLiteral("reading: %1").arg(st.reading);
    return st;
}

QString cell(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isDouble())
        return QString::number(value.toInt());
    return value.isString() ? value.toString() : QStringLiteral("-");
}

/// Several senders: one line each under a header, or one object each with its exit code.
int printFixture(const CtlReport &r, const QStringList &ports,
                 const std::vector<SenderStatus> &statuses)
{
    QList<QStringList> table { { "PORT", "RESULT", "SERIAL", "FIRMWARE", "APPLICATION", "MODE",
                                 "CALIBRATED", "A/D OFFSET", "READING" } };
    int code = ExitDone;
    for (size_t i = 0; i < statuses.size(); ++i) {
        const SenderStatus &st = statuses.at(i);
        code = std::max(code, st.code);
        QJsonObject object = st.object;
        object.insert("port", ports.at(int(i)));
        object.insert("exitCode", st.code);
        if (st.code != ExitDone)
            object.insert("error", st.error);
        const QString result = st.code == ExitDone ? QStringLiteral("ok")
            : st.code == ExitPortUnavailable       ? QStringLiteral("not opened")
            : st.code == ExitNoAnswer              ? QStringLiteral("no answer")
                                                   : QStringLiteral("failed");
        if (r.json()) {
            r.result("status", object, {});
            continue;
        }
        QString calibrated = cell(object, "calibrationDate");
        calibrated.replace(QLatin1Char('T'), QLatin1Char(' '));
        table.append({ ports.at(int(i)), result, cell(object, "serialNumberText"),
                       cell(object, "firmwareVersion"), cell(object, "application"),
                       cell(object, "mode"), calibrated, cell(object, "adOffset"),
                       st.reading.isEmpty() ? QStringLiteral("-") : st.reading });
    }
    if (r.json())
        return code;
    r.result("status", {}, alignedTable(table, [&](int row, int column, const QString &text) {
                 if (row == 0 || column != 1)
                     return text;
                 return r.paint(text,
                                statuses.at(size_t(row - 1)).code == ExitDone
                                    ? CtlReport::Colour::Good
                                    : CtlReport::Colour::Bad,
                                true);
             }));
    for (size_t i = 0; i < statuses.size(); ++i) {
        if (statuses.at(i).code != ExitDone)
            r.failure(statuses.at(i).code, ports.at(int(i)), statuses.at(i).error);
    }
    return code;
}

} // namespace

int status(const CtlOptions &o, const CtlReport &r)
{
    // Every sender is looked for at once, so a fixture with a silent sender costs one time-out.
    std::vector<std::unique_ptr<SenderSession>> sessions;
    std::vector<SenderStatus> statuses(size_t(o.ports.size()));
    for (int i = 0; i < o.ports.size(); ++i) {
        sessions.push_back(std::make_unique<SenderSession>(o.ports.at(i), o.line));
        QString why;
        if (sessions.back()->open(&why))
            sessions.back()->beginConnecting();
        else
            statuses[size_t(i)] = failed(ExitPortUnavailable, why);
    }
    const auto waiting = [&] {
        for (size_t i = 0; i < sessions.size(); ++i) {
            if (statuses.at(i).code == ExitDone && !sessions.at(i)->isConnected())
                return true;
        }
        return false;
    };
    waitUntil([&] { return !waiting(); }, o.connectTimeoutMs);
    for (size_t i = 0; i < sessions.size(); ++i) {
        if (statuses.at(i).code != ExitDone)
            continue;
        if (!sessions.at(i)->isConnected())
            statuses[i]
                = failed(ExitNoAnswer,
                         QStringLiteral("no sender answered within %1 ms").arg(o.connectTimeoutMs));
        else
            statuses[i] = readStatus(*sessions.at(i));
    }
    if (o.ports.size() > 1)
        return printFixture(r, o.ports, statuses);
    const SenderStatus &st = statuses.front();
    if (st.code != ExitDone)
        return r.failure(st.code, o.ports.first(), st.error);
    r.result("status", st.object, st.lines.join(QLatin1Char('\n')));
    return ExitDone;
}

int monitor(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    if (const auto failed = connectOne(o, r, s))
        return *failed;
    if (const auto failed = needApplication(r, s, QStringLiteral("monitor")))
        return *failed;
    VX4Interface &e = s.engine();

    bool lost = false;
    QObject::connect(&e, &VX4Interface::vx4DisconnectedSignal, [&lost] { lost = true; });
    QObject::connect(&e, &VX4Interface::vx4PressureMsgRdy, [&](int psi, const VX4Message &msg) {
        const quint8 adStatus = msg.payload.isEmpty() ? 0xFF : quint8(msg.payload.at(0));
        const bool ok = adStatus == VX4AdStatus::Ok;
        const QString time = timeStamp();
        r.result("reading",
                 QJsonObject { { "time", time },
                               { "pressurePsi", ok ? QJsonValue(psi) : QJsonValue() },
                               { "adStatus", adStatusText(adStatus) } },
                 QStringLiteral("%1 %2 %3")
                     .arg(time, ok ? QStringLiteral("%1 PSI").arg(psi) : QStringLiteral("----"),
                          adStatusText(adStatus)));
    });
    // In calibration mode the sender streams nothing: its A/D counts are asked for instead.
    QObject::connect(&e, &VX4Interface::vx4ResponseRdy, [&](const VX4Message &msg) {
        if (msg.command != GetAdCounts)
            return;
        const quint8 adStatus = msg.payload.isEmpty() ? 0xFF : quint8(msg.payload.at(0));
        const double volts = VX4AdStatus::countsToVolts(msg.payload);
        const QString time = timeStamp();
        r.result("reading",
                 QJsonObject {
                     { "time", time }, { "volts", volts }, { "adStatus", adStatusText(adStatus) } },
                 QStringLiteral("%1 %2 V %3")
                     .arg(time)
                     .arg(volts, 0, 'f', 4)
                     .arg(adStatusText(adStatus)));
    });
    QTimer adPoll;
    QObject::connect(&adPoll, &QTimer::timeout, [&e] {
        if (e.mode() == CalibrationMode && e.queuedMessages().isEmpty())
            e.requestADCounts();
    });
    adPoll.start(AdCountsPeriodMs);

    // Reading changes nothing on the sender: Ctrl-C is the documented end, exit code 0.
    StopSignal stop;
    const int limitMs = o.monitorSeconds < 0 ? -1 : int(o.monitorSeconds * 1000);
    waitUntil([&] { return lost || stop.requested(); }, limitMs);
    if (lost)
        return r.failure(ExitSenderFailed, s.port() + QLatin1String(": monitor"),
                         QStringLiteral("the sender stopped answering"));
    return ExitDone;
}

} // namespace ServiceCommands
