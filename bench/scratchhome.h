#pragma once

#include <QTemporaryDir>

#include <cstdio>

/// A benchmark's own settings, data and home folder, thrown away at its end; off screen unless a
/// platform is asked for, and only warnings printed, so the log costs nothing in the figures.
/// Made before the application object, which reads the platform.
struct ScratchHome
{
    QTemporaryDir dir;

    ScratchHome()
    {
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("HOME", dir.path().toLocal8Bit());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
            if (type != QtDebugMsg)
                std::fprintf(stderr, "%s\n", qPrintable(msg));
        });
    }
};
