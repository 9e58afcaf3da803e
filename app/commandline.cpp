#include "commandline.h"

#include "appidentity.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace CommandLine {

namespace {
struct Switch
{
    const char *name;
    const char *help;
};

const Switch Known[] = {
    { Switches::ShowSetSerial, QT_TRANSLATE_NOOP("CommandLine", "show \"Set Serial #\"") },
    { Switches::ShowModeSwitch,
      QT_TRANSLATE_NOOP("CommandLine", "show \"Toggle Operating Mode\"") },
    { Switches::ShowAppSwitch, QT_TRANSLATE_NOOP("CommandLine", "show \"Toggle Application\"") },
    { Switches::ShowSerialConfig,
      QT_TRANSLATE_NOOP("CommandLine", "show \"Configure\" (the serial line's settings)") },
    { "--help", QT_TRANSLATE_NOOP("CommandLine", "print this text and exit") },
    { "--version",
      QT_TRANSLATE_NOOP("CommandLine", "print the program's name and version and exit") },
    { "-h", nullptr },
};

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}
} // namespace

bool wantsHelp(const QStringList &arguments)
{
    return arguments.mid(1).contains(QLatin1String("--help"))
        || arguments.mid(1).contains(QLatin1String("-h"));
}

QString helpText(const QString &program)
{
    QString text = tr("Usage: %1 [switch...]\n").arg(program)
        + tr("Services an Orvelle VX4 pressure sender on a serial port. Switches are "
             "case-sensitive:\n");
    for (const Switch &s : Known) {
        if (s.help)
            text += QStringLiteral("  %1  %2\n").arg(QLatin1String(s.name), -18).arg(tr(s.help));
    }
    return text;
}

QStringList unrecognised(const QStringList &arguments)
{
    QStringList unknown;
    for (const QString &argument : arguments.mid(1)) {
        const bool ours = std::any_of(std::begin(Known), std::end(Known), [&](const Switch &s) {
            return argument == QLatin1String(s.name);
        });
        if (argument.startsWith(QLatin1Char('-')) && !ours)
            unknown.append(argument);
    }
    return unknown;
}

QString nearest(const QString &argument)
{
    for (const Switch &s : Known) {
        if (argument.compare(QLatin1String(s.name), Qt::CaseInsensitive) == 0)
            return QLatin1String(s.name);
    }
    return QString();
}

} // namespace CommandLine

namespace CommandLine {

void reportUnrecognised(QWidget *parent, const QStringList &unknown)
{
    QString text;
    for (const QString &argument : unknown) {
        const QString meant = nearest(argument);
        text += meant.isEmpty()
            ? tr("The switch \"%1\" is not recognised and was ignored.\n").arg(argument)
            : tr("The switch \"%1\" is not recognised and was ignored; switches are "
                 "case-sensitive: did you mean \"%2\"?\n")
                  .arg(argument, meant);
    }
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text.trimmed(),
                    QMessageBox::Ok, parent);
    box.setInformativeText(tr("--help lists the switches."));
    box.exec();
}

} // namespace CommandLine
