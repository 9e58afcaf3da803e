// Fault soak: the engine against the simulated sender with faults at a high rate for a given time.
// Prints a summary and the invariants broken; exits 1 when there are any.
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
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("How long to run (default 600)."),
                                     QStringLiteral("N"), QStringLiteral("600"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Random seed (default: the time)."),
                                  QStringLiteral("N"));
    parser.addOptions({ seconds, seed });
    parser.process(app);

    const quint32 seedValue = parser.isSet(seed) ? parser.value(seed).toUInt()
                                                 : quint32(QDateTime::currentMSecsSinceEpoch());
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    const SoakReport report = runFaultSoak(seedValue, parser.value(seconds).toInt());
    std::printf("seed %u: %s\n", seedValue, qPrintable(report.text()));
    return report.violations.isEmpty() ? 0 : 1;
}
