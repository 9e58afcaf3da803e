#include "servicecommands.h"

#include "adstatus.h"
#include "bytes.h"
#include "ctloptions.h"
#include "ctlreport.h"
#include "ctlwait.h"
#include "decoding.h"
#include "senderidentity.h"
#include "sendersession.h"
#include "serialportlist.h"
#include "servicerules.h"
#include "stopsignal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTimer>

#include <optional>

using namespace VX4Protocol;

namespace ServiceCommands {

namespace {

constexpr int AdCountsPeriodMs = 250; ///< A/D readings asked for in calibration mode
constexpr int AppChangeExtraMs = 2000; ///< the sender restarting into its other application

QString appName(VX4App app)
{
    switch (app) {
    case Bootloader:
        return QStringLiteral("bootloader");
    case PressureSendingApp:
        return QStringLiteral("application");
    default:
        return QStringLiteral("unknown");
    }
}

QString modeName(VX4Mode mode)
{
    switch (mode) {
    case PressureSendingMode:
        return QStringLiteral("pressure");
    case CalibrationMode:
        return QStringLiteral("calibration");
    default:
        return QStringLiteral("unknown");
    }
}

QString adStatusText(quint8 status)
{
    const char *text = VX4AdStatus::displayText(status);
    return text ? QString::fromLatin1(text) : QStringLiteral("A/D status %1").arg(status);
}

QString timeStamp()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

/// Opens the port and connects. Returns the exit code of the failure it printed, or nothing.
std::optional<int> connectOne(const CtlOptions &o, const CtlReport &r, SenderSession &s)
{
    QString why;
    if (!s.open(&why))
        return r.failure(ExitNoAnswer, s.port(), why);
    if (!s.connectSender(o.connectTimeoutMs))
        return r.failure(ExitNoAnswer, s.port(),
                         QStringLiteral("no sender answered within %1 ms").arg(o.connectTimeoutMs));
    return std::nullopt;
}

/// The service actions need the pressure sending application, as the window's buttons do.
std::optional<int> needApplication(const CtlReport &r, SenderSession &s, const QString &what)
{
    if (s.engine().app() == PressureSendingApp)
        return std::nullopt;
    return r.failure(ExitSenderFailed, s.port() + QLatin1String(": ") + what,
                     QStringLiteral("the sender runs the %1, not the pressure sending application")
                         .arg(appName(s.engine().app())));
}

int requestFailed(const CtlReport &r, SenderSession &s, const QString &what, const char *request)
{
    return r.failure(ExitSenderFailed, s.port() + QLatin1String(": ") + what,
                     QStringLiteral("the sender did not answer the %1 request").arg(request));
}

} // namespace

int ports(const CtlOptions &, const CtlReport &r)
{
    for (const SerialPortEntry &port : availableSerialPorts())
        r.result(QJsonObject { { "port", port.portName }, { "name", port.friendlyName } },
                 port.portName + QLatin1Char('\t') + port.friendlyName);
    return ExitDone;
}

int status(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    if (const auto failed = connectOne(o, r, s))
        return *failed;
    VX4Interface &e = s.engine();
    QJsonObject object { { "port", s.port() }, { "application", appName(e.app()) } };
    QStringList lines { QStringLiteral("port: %1").arg(s.port()) };
    if (e.app() != PressureSendingApp) {
        lines << QStringLiteral("application: %1").arg(VX4Interface::appText(e.app()));
        r.result(object, lines.join(QLatin1Char('\n')));
        return ExitDone;
    }

    const bool hasOffset = VX4Identity::firmwareHasAdOffset(e.firmwareMajor(), e.firmwareMinor());
    const QDateTime calibrated = e.calDateTime();
    object.insert("serialNumber", e.serialNumber());
    object.insert("serialNumberText", e.serialNumberString());
    object.insert("firmwareVersion", e.firmwareVersionString());
    object.insert("mode", modeName(e.mode()));
    object.insert("calibrationDate",
                  calibrated.isValid()
                      ? QJsonValue(calibrated.toString(QStringLiteral("yyyy-MM-ddTHH:mm")))
                      : QJsonValue());
    object.insert("adOffset", hasOffset ? QJsonValue(e.adOffset()) : QJsonValue());
    lines << QStringLiteral("serial number: %1").arg(e.serialNumberString())
          << QStringLiteral("firmware version: %1").arg(e.firmwareVersionString())
          << QStringLiteral("application: %1").arg(VX4Interface::appText(e.app()))
          << QStringLiteral("mode: %1").arg(VX4Interface::modeText(e.mode()))
          << QStringLiteral("calibration date: %1")
                 .arg(calibrated.isValid()
                          ? calibrated.toString(QStringLiteral("yyyy-MM-dd hh:mm AP"))
                          : QStringLiteral("Not calibrated"))
          << QStringLiteral("A/D offset: %1")
                 .arg(hasOffset ? QString::number(e.adOffset()) : QStringLiteral("N/A"));

    // The reading: the next pressure frame, or in calibration mode the A/D counts the wizard reads.
    if (e.mode() == CalibrationMode) {
        VX4Message answer;
        if (!s.request(
                GetAdCounts, [&e] { e.requestADCounts(); }, &answer))
            return requestFailed(r, s, QStringLiteral("status"), "A/D counts");
        const quint8 adStatus = answer.payload.isEmpty() ? 0xFF : quint8(answer.payload.at(0));
        const double volts = VX4AdStatus::countsToVolts(answer.payload);
        object.insert("volts", volts);
        object.insert("adStatus", adStatusText(adStatus));
        lines << QStringLiteral("reading: %1 V (%2)")
                     .arg(volts, 0, 'f', 4)
                     .arg(adStatusText(adStatus));
    } else {
        int psi = 0;
        quint8 adStatus = 0;
        if (!s.nextReading(SenderSession::ReadingWaitMs, &psi, &adStatus))
            return r.failure(ExitSenderFailed, s.port() + QLatin1String(": status"),
                             QStringLiteral("the sender sent no reading within %1 ms")
                                 .arg(SenderSession::ReadingWaitMs));
        const bool ok = adStatus == VX4AdStatus::Ok;
        object.insert("pressurePsi", ok ? QJsonValue(psi) : QJsonValue());
        object.insert("adStatus", adStatusText(adStatus));
        lines << QStringLiteral("reading: %1 (%2)")
                     .arg(ok ? QStringLiteral("%1 PSI").arg(psi) : QStringLiteral("----"),
                          adStatusText(adStatus));
    }
    r.result(object, lines.join(QLatin1Char('\n')));
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
        r.result(QJsonObject { { "time", time },
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
        r.result(QJsonObject { { "time", time },
                               { "volts", volts },
                               { "adStatus", adStatusText(adStatus) } },
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

    StopSignal stop;
    const int limitMs = o.monitorSeconds < 0 ? -1 : int(o.monitorSeconds * 1000);
    waitUntil([&] { return lost || stop.requested(); }, limitMs);
    if (lost)
        return r.failure(ExitSenderFailed, s.port() + QLatin1String(": monitor"),
                         QStringLiteral("the sender stopped answering"));
    return ExitDone;
}

int zero(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    if (const auto failed = connectOne(o, r, s))
        return *failed;
    const QString what = s.port() + QLatin1String(": zero");
    if (const auto failed = needApplication(r, s, QStringLiteral("zero")))
        return *failed;
    VX4Interface &e = s.engine();
    if (!VX4Identity::firmwareHasAdOffset(e.firmwareMajor(), e.firmwareMinor()))
        return r.failure(
            ExitSenderFailed, what,
            QStringLiteral("firmware %1 has no A/D offset to zero").arg(e.firmwareVersionString()));
    if (e.mode() != PressureSendingMode)
        return r.failure(ExitSenderFailed, what,
                         QStringLiteral("the sender sends no reading in calibration mode; "
                                        "switch it to pressure mode first"));
    int psi = 0;
    quint8 adStatus = 0;
    if (!s.nextReading(SenderSession::ReadingWaitMs, &psi, &adStatus))
        return r.failure(ExitSenderFailed, what,
                         QStringLiteral("the sender sent no reading within %1 ms")
                             .arg(SenderSession::ReadingWaitMs));
    if (adStatus != VX4AdStatus::Ok)
        return r.failure(
            ExitSenderFailed, what,
            QStringLiteral("the reading is not valid: %1").arg(adStatusText(adStatus)));
    if (!VX4ServiceRules::zeroAllowed(psi))
        return r.failure(ExitSenderFailed, what,
                         QStringLiteral("%1PSI is outside of the allowable adjustment range from "
                                        "%2PSI to %3PSI.")
                             .arg(psi)
                             .arg(VX4ServiceRules::ZeroRangeMinPsi)
                             .arg(VX4ServiceRules::ZeroRangeMaxPsi));
    if (!s.request(ZeroPsi, [&e] { e.zeroPressure(); }))
        return requestFailed(r, s, QStringLiteral("zero"), "zero pressure");
    if (!s.request(GetOffset, [&e] { e.requestADOffset(); }))
        return requestFailed(r, s, QStringLiteral("zero"), "A/D offset");
    r.result(
        QJsonObject { { "port", s.port() }, { "zeroedAtPsi", psi }, { "adOffset", e.adOffset() } },
        QStringLiteral("zeroed at %1 PSI; A/D offset: %2").arg(psi).arg(e.adOffset()));
    return ExitDone;
}

int serial(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    if (const auto failed = connectOne(o, r, s))
        return *failed;
    if (const auto failed = needApplication(r, s, QStringLiteral("serial")))
        return *failed;
    VX4Interface &e = s.engine();
    const quint16 wanted = quint16(o.serialNumber);
    if (!s.request(SetSerial, [&e, wanted] { e.setSerialNumber(wanted); }))
        return requestFailed(r, s, QStringLiteral("serial"), "set serial number");
    if (!s.request(GetSerial, [&e] { e.requestSerialNumber(); }))
        return requestFailed(r, s, QStringLiteral("serial"), "serial number");
    if (e.serialNumber() != wanted)
        return r.failure(ExitSenderFailed, s.port() + QLatin1String(": serial"),
                         QStringLiteral("the sender kept serial number %1").arg(e.serialNumber()));
    r.result(QJsonObject { { "port", s.port() },
                           { "serialNumber", e.serialNumber() },
                           { "serialNumberText", e.serialNumberString() } },
             QStringLiteral("serial number: %1").arg(e.serialNumberString()));
    return ExitDone;
}

int mode(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    if (const auto failed = connectOne(o, r, s))
        return *failed;
    if (const auto failed = needApplication(r, s, QStringLiteral("mode")))
        return *failed;
    VX4Interface &e = s.engine();
    const VX4Mode wanted = o.targetMode == 0 ? PressureSendingMode : CalibrationMode;
    if (e.mode() != wanted && !s.request(ModeSwitch, [&e, &o] { e.switchMode(o.targetMode); }))
        return requestFailed(r, s, QStringLiteral("mode"), "mode switch");
    if (e.mode() != wanted)
        return r.failure(
            ExitSenderFailed, s.port() + QLatin1String(": mode"),
            QStringLiteral("the sender stayed in %1").arg(VX4Interface::modeText(e.mode())));
    r.result(QJsonObject { { "port", s.port() }, { "mode", modeName(e.mode()) } },
             QStringLiteral("mode: %1").arg(VX4Interface::modeText(e.mode())));
    return ExitDone;
}

int app(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    if (const auto failed = connectOne(o, r, s))
        return *failed;
    VX4Interface &e = s.engine();
    const VX4App wanted = o.targetBootloader ? Bootloader : PressureSendingApp;
    if (e.app() != wanted) {
        // The sender restarts into the other application; the engine connects to it again. The
        // poll that follows a connection is answered first, or its answer would be taken for the
        // reconnection's and the engine would ask the bootloader for its firmware version.
        s.waitLineFree(SenderSession::AnswerLimitMs);
        e.changeApp();
        waitUntil([&] { return e.isConnected() && e.app() == wanted; },
                  o.connectTimeoutMs + AppChangeExtraMs);
        s.waitLineFree(SenderSession::AnswerLimitMs);
    }
    if (e.app() != wanted)
        return r.failure(ExitSenderFailed, s.port() + QLatin1String(": app"),
                         QStringLiteral("the sender did not change to the %1 (it runs: %2)")
                             .arg(VX4Interface::appText(wanted), VX4Interface::appText(e.app())));
    r.result(QJsonObject { { "port", s.port() }, { "application", appName(e.app()) } },
             QStringLiteral("application: %1").arg(VX4Interface::appText(e.app())));
    return ExitDone;
}

} // namespace ServiceCommands
