#pragma once

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
inline constexpr char CalDueDate[] = "calDueDate"; ///< the reference's due date, yyyy-MM-dd
inline constexpr char CalUncertainty[] = "calUncertainty"; ///< the reference's, as its certificate
inline constexpr char CalUncertaintyUnit[]
    = "calUncertaintyUnit"; ///< "psi" or "percent" of reading
inline constexpr char CalUncertaintyK[] = "calUncertaintyK"; ///< its coverage factor; default 2
// The three below apply while the history holds no lab policy.
inline constexpr char TolerancePsi[] = "tolerancePsi"; ///< pass rule, +/- PSI; default 10
inline constexpr char DecisionRule[] = "decisionRule"; ///< "simple" (default) or "guarded"
inline constexpr char ProcedureId[] = "procedureId"; ///< the calibration procedure's name
/// The lab's policy as last read from the history, applied while the history cannot be reached.
inline constexpr char LabPolicyCache[] = "labPolicyCache";
inline constexpr char IntervalMonths[] = "intervalMonths"; ///< to the next calibration; default 12
/// How long a calibration page waits before Capture is offered, in seconds; default 10.
inline constexpr char SettleSeconds[] = "settleSeconds";
/// How long readings must stay within 1 PSI to count as stable, in ms; default 2000.
inline constexpr char StableWindowMs[] = "stableWindowMs";
/// How long the wizard waits for a silent sender before it offers Retry or Abort, in seconds;
/// default 5.
inline constexpr char SilenceSeconds[] = "silenceSeconds";
} // namespace CalSetupGroup

/// Where the calibration history is kept: the SQLite file in the data folder, or a PostgreSQL
/// server. No password is ever kept here: libpq reads its own password or service file.
namespace HistoryGroup {
inline constexpr char Name[] = "history";
inline constexpr char Backend[] = "backend"; ///< "sqlite" (default) or "postgresql"
inline constexpr char Host[] = "host"; ///< host name, or the folder of the server's socket
inline constexpr char Port[] = "port"; ///< default 5432
inline constexpr char Database[] = "database";
inline constexpr char User[] = "user";
} // namespace HistoryGroup

} // namespace SettingsStore
