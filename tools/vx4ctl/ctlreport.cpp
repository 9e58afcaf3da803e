#include "ctlreport.h"

#include <QJsonDocument>

#include <cstdio>
#include <unistd.h>

namespace {

void writeLine(FILE *stream, QByteArray line)
{
    // One write with its line end, so nothing cuts a line in two (standard error is unbuffered).
    line += '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    // Scripts read results as they come.
    std::fflush(stream);
}

bool capableTerminal(int fd)
{
    return ::isatty(fd) && qEnvironmentVariable("TERM") != QLatin1String("dumb");
}

bool colourWanted(int fd)
{
    // Any non-empty NO_COLOR turns colour off, whatever its value.
    return capableTerminal(fd) && qEnvironmentVariableIsEmpty("NO_COLOR");
}

void writeJson(FILE *stream, const char *event, QJsonObject object)
{
    object.insert(QStringLiteral("event"), QLatin1String(event));
    writeLine(stream, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

CtlReport::CtlReport(bool json)
    : m_json(json)
    , m_bars(!json && capableTerminal(STDERR_FILENO))
    , m_colourOut(!json && colourWanted(STDOUT_FILENO))
    , m_colourErr(!json && colourWanted(STDERR_FILENO))
{
}

void CtlReport::result(const char *event, QJsonObject object, const QString &plain) const
{
    if (m_json)
        writeJson(stdout, event, std::move(object));
    else
        writeLine(stdout, plain.toUtf8());
}

void CtlReport::message(const char *event, QJsonObject object, const QString &plain) const
{
    if (m_json)
        writeJson(stderr, event, std::move(object));
    else
        writeLine(stderr, plain.toUtf8());
}

int CtlReport::failure(int code, const QString &what, const QString &why) const
{
    if (m_json) {
        writeJson(stderr, "error", { { "error", why }, { "what", what }, { "exitCode", code } });
        return code;
    }
    // One line whatever the reason's text holds.
    QString line = QStringLiteral("%1 %2: %3")
                       .arg(paint(QStringLiteral("vx4ctl:"), Colour::Bad, false), what, why);
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    writeLine(stderr, line.toUtf8());
    return code;
}

void CtlReport::barText(const QString &text) const
{
    if (!m_bars)
        return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString CtlReport::paint(const QString &text, Colour colour, bool onStdout) const
{
    if (colour == Colour::None || !(onStdout ? m_colourOut : m_colourErr))
        return text;
    const char *code = colour == Colour::Good ? "32" : colour == Colour::Bad ? "31" : "33";
    return QStringLiteral("\x1b[%1m%2\x1b[0m").arg(QLatin1String(code), text);
}
