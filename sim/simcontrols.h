#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

class PtyEndpoint;
class QCommandLineParser;
class SimulatedSender;

constexpr double DefaultWobblePsi = 3.0; ///< amplitude of the default drift
constexpr double DefaultWobblePeriodS = 8.0; ///< period of the default drift

/// The applied pressure and its slow drift, so the utility's reading moves as a real one would.
struct Drift
{
    double basePsi = 0;
    double amplitudePsi = DefaultWobblePsi;
    double periodS = DefaultWobblePeriodS;
    QElapsedTimer clock;

    double now() const;
};

/// What the controls act on: the sender, the terminal it is served on and its pressure's drift.
struct SimTarget
{
    SimulatedSender &sender;
    PtyEndpoint &pty;
    Drift &drift;
    /// True while options are applied: nobody listens yet, so bytes to send wait for a request.
    bool starting = false;
};

/// What the words after a control's name must be.
enum class ArgKind {
    None, ///< no words
    Any, ///< any words, ignored
    Integer, ///< one whole number within the control's bounds
    Real, ///< one finite number
    OnOff, ///< on or off
    App, ///< bootloader or pressure
    Mode, ///< pressure or calibration
    Version, ///< MAJOR.MINOR, each 0 to 255
    Date, ///< the rest of the line: YYYY-MM-DD HH:MM, or none
    RealPair, ///< exactly two finite numbers
    Wobble, ///< an amplitude of at least 0 and, optionally, a period above 0
    Bytes, ///< the rest of the line in hex; no words stand for 5A A5 FF 00
    Repeat, ///< off, once or always (0, 1, 2)
};

/// A control's words, parsed according to its ArgKind.
struct ControlValue
{
    int number = 0; ///< Integer; OnOff (1 is on); App, Mode and Repeat as their value
    double x = 0; ///< Real; first of RealPair; amplitude of Wobble
    double y = 0; ///< second of RealPair; period of Wobble
    bool hasY = false; ///< Wobble was given a period
    quint8 major = 0; ///< Version
    quint8 minor = 0; ///< Version
    QDateTime date; ///< Date; null for none
    QByteArray bytes; ///< Bytes
};

/// A command-line option that gives (part of) a control up front.
struct SimOption
{
    const char *name;
    const char *valueName; ///< null for a switch
    const char *help;
    /// A switch: the words it stands for. A value option: its word when it is empty or unset
    /// while another option of the same control is set.
    const char *fallback = nullptr;
};

/// One setting, fault or request of the simulator, as a control command on standard input and
/// as the command-line options that give it up front.
struct SimControl
{
    const char *command; ///< its word on standard input
    const char *alias; ///< another word for it, or null
    const char *syntax; ///< its words after the name, for the help text
    const char *help; ///< what it does, for the help text
    ArgKind kind;
    int low; ///< bounds of an Integer
    int high;
    std::vector<SimOption> options;
    /// Carries the control out; `reply` holds "ok" on entry.
    void (*apply)(SimTarget &target, const ControlValue &value, QString *reply);
};

/// Every control, in the order the help text lists them.
const std::vector<SimControl> &simControls();

/// Runs one control line; false when the line was not understood. An empty line does nothing.
bool runControl(SimTarget &target, const QString &line, QString *reply);
/// Runs one control given as its name and words.
bool runControl(SimTarget &target, const QStringList &words, QString *reply);

/// The control commands' help text.
QString controlHelp();

/// One line on the sender's state and the traffic so far.
QString simStatus(const SimTarget &target);

/// Adds every control's options to `parser`.
void addControlOptions(QCommandLineParser &parser);

/// The controls, as name and words, that the options set in `parser` stand for.
QList<QStringList> optionCommands(const QCommandLineParser &parser);
