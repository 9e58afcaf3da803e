#include "qlogger.h"

#include "vx4log.h"

#include <QDateTime>

#include <cstdio>

namespace {
QtMessageHandler previousHandler = nullptr;
bool installed = false;
} // namespace

QLogger *QLogger::instance()
{
    static QLogger *logger = new QLogger;
    return logger;
}

void QLogger::install()
{
    if (installed)
        return;
    installed = true;
    previousHandler = qInstallMessageHandler(&messageHandler);
}

QString QLogger::formatLine(const QDateTime &stamp, const QString &message)
{
    return VX4Log::formatLine(stamp, message);
}

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString line = QLogger::formatLine(QDateTime::currentDateTime(), message);
    emit QLogger::instance()->msgReady(line);
    if (previousHandler) {
        previousHandler(type, context, line);
    } else {
        std::fprintf(stderr, "%s\n", qUtf8Printable(line));
        std::fflush(stderr);
    }
}
