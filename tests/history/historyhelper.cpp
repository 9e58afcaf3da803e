// A second program on the history, for the tests of two programs at once:
//   historyhelper draw N KEY=VALUE...    draws N certificate numbers, one a line
//   historyhelper flush KEY=VALUE...     stores the pending file's lines: "stored N: problems"
// Keys: sqlite, host, port, database, user, pending, block, bench.
#include "calibrationhistory.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    HistoryLocation l;
    l.busyTimeoutMs = 20000;
    for (const QString &arg : args.mid(args.value(0) == "draw" ? 2 : 1)) {
        const QString key = arg.section('=', 0, 0);
        const QString value = arg.section('=', 1);
        if (key == "sqlite")
            l.sqliteFile = value;
        else if (key == "host")
            l.host = value;
        else if (key == "port")
            l.port = value.toInt();
        else if (key == "database")
            l.database = value;
        else if (key == "user")
            l.user = value;
        else if (key == "pending")
            l.pendingFile = value;
        else if (key == "block")
            l.blockFile = value;
        else if (key == "bench")
            l.bench = value;
    }
    if (!l.host.isEmpty())
        l.backend = HistoryLocation::Backend::Postgres;
    CalibrationHistory history(l);
    QString error;
    if (args.value(0) == "flush") {
        const int stored = history.flushPending(&error);
        std::printf("stored %d: %s\n", stored, qPrintable(error));
        return stored < 0 ? 1 : 0;
    }
    for (int i = 0; i < args.value(1).toInt(); ++i) {
        const QString number = history.drawCertificateNumber(&error);
        std::printf("%s\n", qPrintable(number.isEmpty() ? error : number));
        std::fflush(stdout);
    }
    return 0;
}
