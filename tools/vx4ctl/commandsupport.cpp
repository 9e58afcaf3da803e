#include "commandsupport.h"

#include "adstatus.h"
#include "ctloptions.h"
#include "ctlreport.h"
#include "sendersession.h"
#include "stopsignal.h"

#include <QDateTime>

namespace CommandSupport {

namespace {
constexpr int InterruptLimitMs = 10000; ///< beyond the time-out of the request on the line
} // namespace

QString appName(VX4App app)
{
    switch (app) {
    case Bootloader:
        return QStringLiteral("bootloader");
    case PressureSendingApp:
        return QStringLiteral("application");
    default:
        return QStringLiteral("unknown");
    }
}

QString modeName(VX4Mode mode)
{
    switch (mode) {
    case PressureSendingMode:
        return QStringLiteral("pressure");
    case CalibrationMode:
        return QStringLiteral("calibration");
    default:
        return QStringLiteral("unknown");
    }
}

QString adStatusText(quint8 status)
{
    const char *text = VX4AdStatus::displayText(status);
    return text ? QString::fromLatin1(text) : QStringLiteral("A/D status %1").arg(status);
}

QString timeStamp()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

std::optional<int> connectOne(const CtlOptions &o, const CtlReport &r, SenderSession &s)
{
    QString why;
    if (!s.open(&why))
        return r.failure(ExitPortUnavailable, s.port(), why);
    if (!s.connectSender(o.connectTimeoutMs) && s.stopped())
        return interrupted(r, s, QStringLiteral("connect"));
    if (!s.isConnected())
        return r.failure(ExitNoAnswer, s.port(),
                         QStringLiteral("no sender answered within %1 ms").arg(o.connectTimeoutMs));
    return std::nullopt;
}

std::optional<int> needApplication(const CtlReport &r, SenderSession &s, const QString &what)
{
    if (s.engine().app() == PressureSendingApp)
        return std::nullopt;
    return r.failure(ExitSenderFailed, s.port() + QLatin1String(": ") + what,
                     QStringLiteral("the sender runs the %1, not the pressure sending application")
                         .arg(appName(s.engine().app())));
}

int requestFailed(const CtlReport &r, SenderSession &s, const QString &what, const char *request)
{
    if (s.stopped())
        return interrupted(r, s, what);
    return r.failure(ExitSenderFailed, s.port() + QLatin1String(": ") + what,
                     QStringLiteral("the sender did not answer the %1 request; check the line and "
                                    "run the command again")
                         .arg(QLatin1String(request)));
}

int interrupted(const CtlReport &r, SenderSession &s, const QString &what)
{
    const bool quiet = s.interrupt(InterruptLimitMs);
    return r.failure(s.stopSignal()->exitCode(), s.port() + QLatin1String(": ") + what,
                     QStringLiteral("interrupted by %1 before the sender confirmed the change%2: "
                                    "see where it stands with vx4ctl status")
                         .arg(QLatin1String(s.stopSignal()->name()),
                              quiet ? QString() : QStringLiteral(" (the line did not go quiet)")));
}

QString alignedTable(const QList<QStringList> &rows,
                     const std::function<QString(int, int, const QString &)> &paint)
{
    QList<int> widths;
    for (const QStringList &row : rows) {
        for (int c = 0; c < row.size(); ++c) {
            if (c == widths.size())
                widths.append(0);
            widths[c] = qMax(widths[c], int(row.at(c).size()));
        }
    }
    QStringList lines;
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList &row = rows.at(r);
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            const bool last = c + 1 == row.size();
            const QString cell = last ? row.at(c) : row.at(c).leftJustified(widths.at(c) + 2);
            line += paint ? paint(r, c, cell) : cell;
        }
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

QString escapeControls(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\n')
            result += QLatin1String("\\n");
        else if (u == '\t')
            result += QLatin1String("\\t");
        else if (u == '\r')
            result += QLatin1String("\\r");
        else if (u == '\\')
            result += QLatin1String("\\\\");
        else if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            result += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        // Direction overrides and line separators move text as much as a line feed does.
        else if (c.category() == QChar::Other_Format || c.category() == QChar::Separator_Line
                 || c.category() == QChar::Separator_Paragraph)
            result += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

} // namespace CommandSupport
