#pragma once

#include "calibrationrecord.h"

#include <QDateTime>
#include <QString>

/// What a lab decides for every calibration, not each technician: the tolerance, the decision
/// rule and the procedure's identification. The history keeps the current one and who set it.
struct LabPolicy
{
    static constexpr double DefaultTolerancePsi = 10;
    static constexpr double MaxTolerancePsi
        = 300; ///< 10 % of span: anything wider is no calibration

    double tolerancePsi = DefaultTolerancePsi;
    DecisionRule rule = DecisionRule::Simple;
    QString procedureId;
    QString changedBy; ///< empty for this computer's own settings
    QDateTime changed;

    /// Why the policy cannot be kept, or an empty text.
    QString problem() const;
    /// "±10 PSI, simple acceptance, procedure CAL-7" for lines and logs.
    QString summary() const;
    static QString ruleName(DecisionRule rule);
};
