#include "servicecommands.h"

#include "adstatus.h"
#include "bytes.h"
#include "commandsupport.h"
#include "ctloptions.h"
#include "ctlreport.h"
#include "ctlwait.h"
#include "senderidentity.h"
#include "sendersession.h"
#include "serialportlist.h"
#include "servicerules.h"
#include "stopsignal.h"

using namespace VX4Protocol;
using namespace CommandSupport;

namespace ServiceCommands {

namespace {

constexpr int AppChangeExtraMs = 2000; ///< the sender restarting into its other application

} // namespace

int ports(const CtlOptions &, const CtlReport &r)
{
    for (const SerialPortEntry &port : availableSerialPorts())
        r.result("port", QJsonObject { { "port", port.portName }, { "name", port.friendlyName } },
                 port.portName + QLatin1Char('\t') + port.friendlyName);
    return ExitDone;
}

int zero(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    // Ctrl-C and SIGTERM end the command at the engine's next safe point.
    StopSignal stop(&r);
    s.setStop(&stop);
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
    const bool read = s.nextReading(SenderSession::ReadingWaitMs, &psi, &adStatus);
    if (!read && s.stopped())
        return interrupted(r, s, QStringLiteral("zero"));
    if (!read)
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
        "zero",
        QJsonObject { { "port", s.port() }, { "zeroedAtPsi", psi }, { "adOffset", e.adOffset() } },
        QStringLiteral("zeroed at %1 PSI; A/D offset: %2").arg(psi).arg(e.adOffset()));
    return ExitDone;
}

int serial(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    // Ctrl-C and SIGTERM end the command at the engine's next safe point.
    StopSignal stop(&r);
    s.setStop(&stop);
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
    r.result("serial",
             QJsonObject { { "port", s.port() },
                           { "serialNumber", e.serialNumber() },
                           { "serialNumberText", e.serialNumberString() } },
             QStringLiteral("serial number: %1").arg(e.serialNumberString()));
    return ExitDone;
}

int mode(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    // Ctrl-C and SIGTERM end the command at the engine's next safe point.
    StopSignal stop(&r);
    s.setStop(&stop);
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
    r.result("mode", QJsonObject { { "port", s.port() }, { "mode", modeName(e.mode()) } },
             QStringLiteral("mode: %1").arg(VX4Interface::modeText(e.mode())));
    return ExitDone;
}

int app(const CtlOptions &o, const CtlReport &r)
{
    SenderSession s(o.ports.first(), o.line);
    // Ctrl-C and SIGTERM end the command at the engine's next safe point.
    StopSignal stop(&r);
    s.setStop(&stop);
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
        waitUntil([&] { return (e.isConnected() && e.app() == wanted) || s.stopped(); },
                  o.connectTimeoutMs + AppChangeExtraMs);
        s.waitLineFree(SenderSession::AnswerLimitMs);
        if (s.stopped())
            return interrupted(r, s, QStringLiteral("app"));
    }
    if (e.app() != wanted)
        return r.failure(ExitSenderFailed, s.port() + QLatin1String(": app"),
                         QStringLiteral("the sender did not change to the %1 (it runs: %2)")
                             .arg(VX4Interface::appText(wanted), VX4Interface::appText(e.app())));
    r.result("app", QJsonObject { { "port", s.port() }, { "application", appName(e.app()) } },
             QStringLiteral("application: %1").arg(VX4Interface::appText(e.app())));
    return ExitDone;
}

} // namespace ServiceCommands
