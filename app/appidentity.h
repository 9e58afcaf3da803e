#pragma once

#include <QString>

/// Who the program is, where it keeps its settings and where its embedded images live.
namespace AppIdentity {

QString organisationName(); ///< "Ostrand Manufacturing, Inc."
QString organisationDomain();
QString applicationName(); ///< with the registered-trade-mark sign
QString applicationVersion(); ///< "1.0.6"

/// Sets organisation name, domain, application name and version on the application, in that
/// order.
void apply();

/// Makes the images compiled into the program reachable under their resource paths.
void registerImages();

inline constexpr char IconPath[] = ":/images/VX5 Tarrow.ico";
inline constexpr char WatermarkPath[] = ":/images/images/Orvelle_logo-vertical-150x288.png";
inline constexpr char CertificateLogoPath[] = ":/images/images/ostrand.png";

} // namespace AppIdentity

/// Names of the settings store: every reader or writer builds its own QSettings from these two.
namespace SettingsStore {

inline constexpr char Organisation[] = "Ostrand";
inline constexpr char Application[] = "VX Lite Tarrow";

namespace MainWindowGroup {
inline constexpr char Name[] = "MainWindow";
inline constexpr char Position[] = "position";
inline constexpr char Size[] = "size";
} // namespace MainWindowGroup

namespace SerialSetupGroup {
inline constexpr char Name[] = "serialsetup";
inline constexpr char SerialPort[] = "serialport"; ///< friendly name of the port opened last
} // namespace SerialSetupGroup

namespace DebugDialogGroup {
inline constexpr char Name[] = "DebugDialog";
inline constexpr char Size[] = "size";
inline constexpr char Position[] = "position";
inline constexpr char Font[] = "font";
} // namespace DebugDialogGroup

namespace FirmwareFileGroup {
inline constexpr char Name[] = "firmwarefile";
inline constexpr char FirmwareDirectory[] = "firmwaredirectory"; ///< package file chosen last
} // namespace FirmwareFileGroup

namespace CalSetupGroup {
inline constexpr char Name[] = "calsetup";
inline constexpr char FirstName[] = "firstname";
inline constexpr char LastName[] = "lastname";
inline constexpr char Company[] = "company";
inline constexpr char CalMakeModel[] = "calMakeModel";
inline constexpr char CalSerialNumber[] = "calSerialNumber";
inline constexpr char CalCertNumber[] = "calCertNumber";
inline constexpr char CalDueDate[] = "calDueDate";
} // namespace CalSetupGroup

} // namespace SettingsStore

/// Command-line switches; each reveals one service control of the main window. Compared
/// case-sensitively against every argument.
namespace Switches {
inline constexpr char ShowSetSerial[] = "-ShowSetSerial";
inline constexpr char ShowModeSwitch[] = "-ShowModeSwitch";
inline constexpr char ShowAppSwitch[] = "-ShowAppSwitch";
inline constexpr char ShowSerialConfig[] = "-ShowSerialConfig";
} // namespace Switches
