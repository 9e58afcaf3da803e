#include "labpolicy.h"

#include <cmath>

QString LabPolicy::problem() const
{
    if (!std::isfinite(tolerancePsi) || tolerancePsi <= 0 || tolerancePsi > MaxTolerancePsi)
        return QStringLiteral("the tolerance must lie above 0 and at most %1 PSI")
            .arg(MaxTolerancePsi);
    if (procedureId.trimmed().isEmpty())
        return QStringLiteral("the procedure needs an identification");
    if (procedureId.size() > 200 || changedBy.size() > 200)
        return QStringLiteral("the procedure's identification and the name are at most 200 "
                              "characters");
    return {};
}

QString LabPolicy::ruleName(DecisionRule rule)
{
    return rule == DecisionRule::Guarded ? QStringLiteral("guarded acceptance")
                                         : QStringLiteral("simple acceptance");
}

QString LabPolicy::summary() const
{
    return QStringLiteral("\u00B1%1 PSI, %2, procedure %3")
        .arg(QString::number(tolerancePsi), ruleName(rule),
             procedureId.isEmpty() ? QStringLiteral("not stated") : procedureId);
}
