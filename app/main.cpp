#include "appidentity.h"
#include "commandline.h"
#include "mainwindow.h"
#include "qlogger.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    // Answered before any window system is needed, so it works without a display too.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("orvelle-utility %s\n", qPrintable(AppIdentity::applicationVersion()));
            return 0;
        }
    }

    // First of all, so that every message, the toolkit's own included, is time-stamped.
    QLogger::install();

    // Before the application object: the help needs no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (CommandLine::wantsHelp(arguments)) {
        const QString program = QFileInfo(arguments.value(0)).fileName();
        std::fputs(qPrintable(CommandLine::helpText(program)), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    AppIdentity::apply();
    AppIdentity::registerImages();

    // The window shows itself at the end of its construction.
    auto *window = new MainWindow;
    const int code = app.exec();
    delete window;
    return code;
}
