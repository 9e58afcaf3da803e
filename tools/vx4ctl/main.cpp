// vx4ctl: checks, services and flashes Orvelle VX4 senders from scripts and production lines,
// with the window's engine, firmware reader and rules; vx4ctl --help lists the commands.
#include "ctllog.h"
#include "ctloptions.h"
#include "ctlreport.h"
#include "flashcommand.h"
#include "historycommands.h"
#include "servicecommands.h"
#include "vx4log.h"
#include "vx4version.h"

#include <QCoreApplication>

#include <cstdio>

#define LOG VX4_LOG("vx4ctl")

namespace {

int dispatch(const CtlOptions &o, const CtlReport &r)
{
    using Command = int (*)(const CtlOptions &, const CtlReport &);
    static const QList<QPair<QString, Command>> commands {
        { "ports", &ServiceCommands::ports },     { "status", &ServiceCommands::status },
        { "monitor", &ServiceCommands::monitor }, { "zero", &ServiceCommands::zero },
        { "serial", &ServiceCommands::serial },   { "mode", &ServiceCommands::mode },
        { "app", &ServiceCommands::app },         { "flash", &runFlash },
        { "history", &HistoryCommands::history }, { "policy", &HistoryCommands::policy },
    };
    for (const auto &[name, run] : commands) {
        if (name == o.command)
            return run(o, r);
    }
    return r.failure(ExitBadUsage, QStringLiteral("usage"),
                     QStringLiteral("unknown command \"%1\"").arg(o.command));
}

} // namespace

int main(int argc, char *argv[])
{
    CtlLog::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx4ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VX4_APP_VERSION));

    QString error;
    const CtlOptions options = CtlOptions::parse(app.arguments().mid(1), &error);
    const CtlReport report(options.json);
    if (!error.isEmpty())
        return report.failure(ExitBadUsage, QStringLiteral("usage"),
                              error + QStringLiteral(" (see vx4ctl --help)"));
    if (options.help) {
        std::fputs(qPrintable(CtlOptions::usage()), stdout);
        return ExitDone;
    }
    if (options.version) {
        std::printf("vx4ctl %s\n", VX4_APP_VERSION);
        return ExitDone;
    }
    if (!options.logFile.isEmpty() && !CtlLog::openFile(options.logFile, &error))
        return report.failure(ExitBadUsage, options.logFile,
                              QStringLiteral("cannot write the log: %1").arg(error));
    LOG << "vx4ctl" << VX4_APP_VERSION << "started:" << app.arguments().mid(1).join(' ');
    const int code = dispatch(options, report);
    LOG << "vx4ctl ends with exit code" << code;
    CtlLog::flush();
    return code;
}
