#pragma once

#include <QString>

/// Who the program is and how it makes its embedded images reachable.
namespace AppIdentity {

QString organisationName(); ///< "Ostrand Manufacturing, Inc."
QString organisationDomain();
QString applicationName(); ///< with the registered-trade-mark sign
QString applicationVersion(); ///< the project version CMake was configured with

/// Sets organisation name, domain, application name and version on the application, in that
/// order.
void apply();

/// Makes the images compiled into the program reachable under their resource paths.
void registerImages();

} // namespace AppIdentity

/// Command-line switches; each reveals one service control of the main window. Compared
/// case-sensitively against every argument.
namespace Switches {
inline constexpr char ShowSetSerial[] = "-ShowSetSerial";
inline constexpr char ShowModeSwitch[] = "-ShowModeSwitch";
inline constexpr char ShowAppSwitch[] = "-ShowAppSwitch";
inline constexpr char ShowSerialConfig[] = "-ShowSerialConfig";
} // namespace Switches
