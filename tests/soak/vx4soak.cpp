// Fault soak: the engine against the simulated sender with faults at a high rate for a given time.
// Prints a summary; exits 1 when an invariant was violated.
#include "faultsoak.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the protocol engine against the simulated sender over a pseudo-terminal while "
        "dropped answers, corrupted CRCs, garbage, silences and late answers hit the line, "
        "during firmware downloads, calibration exchanges and idle polling."));
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("How long to run (default 600)."),
                                           QStringLiteral("N"), QStringLiteral("600"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Random seed (default: the time)."),
                                        QStringLiteral("N"));
    parser.addOption(secondsOption);
    parser.addOption(seedOption);
    parser.process(app);

    const quint32 seed = parser.isSet(seedOption) ? parser.value(seedOption).toUInt()
                                                  : quint32(QDateTime::currentMSecsSinceEpoch());
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    FaultSoak soak(seed, parser.value(secondsOption).toInt());
    const FaultSoak::Summary summary = soak.run();
    std::printf("seed %u: %s\n", seed, qPrintable(summary.toText()));
    return summary.violations.isEmpty() ? 0 : 1;
}
