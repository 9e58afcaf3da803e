#include "appidentity.h"
#include "mainwindow.h"
#include "qlogger.h"

#include <QApplication>

int main(int argc, char *argv[])
{
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
