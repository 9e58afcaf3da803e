#include "appidentity.h"
#include "mainwindow.h"
#include "qlogger.h"

#include <QApplication>

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

    QApplication app(argc, argv);
    AppIdentity::apply();
    AppIdentity::registerImages();

    // The window shows itself at the end of its construction.
    auto *window = new MainWindow;
    const int code = app.exec();
    delete window;
    return code;
}
