#include "ctlreport.h"

#include <QJsonDocument>

#include <unistd.h>

namespace {

void writeLine(FILE *stream, const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    // Scripts read results as they come.
    std::fflush(stream);
}

} // namespace

CtlReport::CtlReport(bool json)
    : m_json(json)
    , m_terminal(!json && ::isatty(STDOUT_FILENO))
{
}

void CtlReport::result(const QJsonObject &object, const QString &plain) const
{
    if (m_json)
        writeLine(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact));
    else
        writeLine(stdout, plain.toUtf8());
}

int CtlReport::failure(int code, const QString &what, const QString &why) const
{
    if (m_json) {
        const QJsonObject object { { "error", why }, { "what", what }, { "exitCode", code } };
        writeLine(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact));
    } else {
        // One line whatever the reason's text holds.
        QString line = QStringLiteral("vx4ctl: %1: %2").arg(what, why);
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        writeLine(stderr, line.toUtf8());
    }
    return code;
}

void CtlReport::terminalText(const QString &text) const
{
    if (!m_terminal)
        return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
