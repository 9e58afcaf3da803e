#include "ctllog.h"

#include "vx4log.h"

#include <QFile>

namespace CtlLog {

namespace {

QFile *logFile = nullptr;

void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (logFile) {
        logFile->write(VX4Log::formatLine(QDateTime::currentDateTime(), message).toUtf8());
        logFile->write("\n");
        // A crash should still leave its last lines behind; a download writes many lines a row,
        // so only the worse ones are pushed out at once.
        if (type != QtDebugMsg && type != QtInfoMsg)
            logFile->flush();
    }
}

} // namespace

void install()
{
    qInstallMessageHandler(&handler);
}

bool openFile(const QString &path, QString *error)
{
    auto *file = new QFile(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *error = file->errorString();
        delete file;
        return false;
    }
    delete logFile;
    logFile = file;
    return true;
}

void flush()
{
    if (logFile)
        logFile->flush();
}

} // namespace CtlLog
