#include "helpmenu.h"

#include "appidentity.h"
#include "vx4log.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#define LOG VX4_LOG("mainwindow")

namespace HelpMenu {

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("HelpMenu", text);
}
} // namespace

QString userGuidePath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                           + QLatin1String(VX4_USER_GUIDE));
}

void openUserGuide(QWidget *parent)
{
    const QString path = userGuidePath();
    LOG << "User Guide:" << path;
    if (!QFileInfo::exists(path)) {
        QMessageBox::warning(parent, tr("User Guide"),
                             tr("The user guide is not installed: %1 is missing.").arg(path));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        QMessageBox::warning(parent, tr("User Guide"),
                             tr("No program to show the user guide was found. Open %1 in a web "
                                "browser.")
                                 .arg(path));
}

void showAbout(QWidget *parent)
{
    const QString text = AppIdentity::applicationName() + QLatin1Char('\n') + tr("Version ")
        + AppIdentity::applicationVersion() + QLatin1Char('\n') + tr("Built on:  ")
        + QLatin1String(__DATE__) + QLatin1Char(' ') + QLatin1String(__TIME__) + QLatin1Char('\n')
        + tr("Built with Qt version:  ") + QLatin1String(QT_VERSION_STR) + QLatin1Char('\n')
        + tr("Qt runtime version:  ") + QLatin1String(qVersion()) + QLatin1Char('\n')
        + QLatin1Char('\n')
        + tr("Released under the MIT licence: free to use, copy, change and "
             "pass on, without warranty. Details show the whole licence.");
    QFile licence(QStringLiteral(":/LICENSE"));
    QMessageBox box(QMessageBox::NoIcon, tr("About"), text, QMessageBox::Ok, parent);
    if (parent)
        box.setIconPixmap(parent->windowIcon().pixmap(64, 64));
    if (licence.open(QIODevice::ReadOnly))
        box.setDetailedText(QString::fromUtf8(licence.readAll()));
    box.exec();
}

} // namespace HelpMenu
