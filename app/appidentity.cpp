#include "appidentity.h"

#include "calibrationresources.h"
#include "vx4version.h"

#include <QGuiApplication>

// Outside any namespace: the resource initialiser is declared globally.
static void initImageResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace AppIdentity {

QString organisationName()
{
    return QStringLiteral("Ostrand Manufacturing, Inc.");
}

QString organisationDomain()
{
    return QStringLiteral("ostrand-mfg.example");
}

QString applicationName()
{
    return QStringLiteral("Orvelle\u00AE 5 Firmware & Calibration Utility");
}

QString applicationVersion()
{
    return QStringLiteral(VX4_APP_VERSION);
}

void apply()
{
    QCoreApplication::setOrganizationName(organisationName());
    QCoreApplication::setOrganizationDomain(organisationDomain());
    QCoreApplication::setApplicationName(applicationName());
    QCoreApplication::setApplicationVersion(applicationVersion());
    // The menu entry's name: desktops match the window to its entry and icon by it (Wayland's
    // app id; on X11 the window's instance name is the program's file name, the entry's
    // StartupWMClass).
    QGuiApplication::setDesktopFileName(QStringLiteral("orvelle-utility"));
}

void registerImages()
{
    initImageResources();
    registerCalibrationImages();
}

} // namespace AppIdentity
