// The calibration wizard and the history: the lab's policy read when it opens, the run stored when
// it ends, both off the window's thread, and how the wizard ends.
#include "VX4calibrationwizard.h"

#include "calibrationshared.h"
#include "calsumpage.h"
#include "historyservice.h"
#include "intropage.h"
#include "pendingfile.h"
#include "settingskeys.h"
#include "vx4log.h"
#include "vx4protocol.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QUrl>

#define LOG VX4_LOG("VX4calibrationwizard")

namespace {

struct PolicyAnswer
{
    std::optional<LabPolicy> policy;
    bool stored = false;
    QString error;
};

struct StoreAnswer
{
    CalibrationHistory::StoreResult result;
};

QString policyKey()
{
    return QStringLiteral("%1/%2").arg(QLatin1String(SettingsStore::CalSetupGroup::Name),
                                       QLatin1String(SettingsStore::CalSetupGroup::LabPolicyCache));
}

/// The lab's policy as this computer read it last, for when the history cannot be reached.
std::optional<LabPolicy> cachedPolicy()
{
    const QJsonObject o
        = QJsonDocument::fromJson(QSettings(SettingsStore::Organisation, SettingsStore::Application)
                                      .value(policyKey())
                                      .toByteArray())
              .object();
    const auto rule = CalibrationRecord::ruleFromText(o.value("rule").toString());
    if (!rule || !o.value("tolerancePsi").isDouble())
        return std::nullopt;
    LabPolicy p;
    p.tolerancePsi = o.value("tolerancePsi").toDouble();
    p.rule = *rule;
    p.procedureId = o.value("procedureId").toString();
    p.changedBy = o.value("changedBy").toString();
    p.changed = QDateTime::fromString(o.value("changed").toString(), Qt::ISODate);
    return p.problem().isEmpty() ? std::optional(p) : std::nullopt;
}

void cachePolicy(const LabPolicy &p)
{
    const QJsonObject o { { "tolerancePsi", p.tolerancePsi },
                          { "rule", CalibrationRecord::ruleText(p.rule) },
                          { "procedureId", p.procedureId },
                          { "changedBy", p.changedBy },
                          { "changed", p.changed.toString(Qt::ISODate) } };
    QSettings(SettingsStore::Organisation, SettingsStore::Application)
        .setValue(policyKey(), QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QString changedText(const LabPolicy &p)
{
    return CalibrationWizard::tr("The lab's policy, set by %1 on %2.")
        .arg(p.changedBy, p.changed.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm")));
}

} // namespace

void CalibrationWizard::readPolicy()
{
    m_introPage->setPolicyPending(tr("Reading the lab's policy from the calibration history..."));
    m_history->run<PolicyAnswer>(
        this,
        [](CalibrationHistory &h) {
            PolicyAnswer a;
            a.policy = h.policy(&a.stored, &a.error);
            return a;
        },
        [this](const PolicyAnswer &a) {
            if (a.policy && a.stored) {
                cachePolicy(*a.policy);
                return m_introPage->setPolicy(*a.policy, true, changedText(*a.policy));
            }
            if (a.policy)
                return m_introPage->useOwnPolicy(
                    tr("No lab policy is stored in the calibration history: this computer's "
                       "settings apply."));
            LOG << "The lab's policy cannot be read:" << a.error;
            if (const auto cached = cachedPolicy())
                return m_introPage->setPolicy(
                    *cached, true,
                    tr("The calibration history cannot be read (%1). %2 It was read last on this "
                       "computer and applies.")
                        .arg(a.error, changedText(*cached)));
            m_introPage->useOwnPolicy(tr("The calibration history cannot be read (%1), and no "
                                         "lab policy was read on this computer before: its own "
                                         "settings apply.")
                                          .arg(a.error));
        });
}

int CalibrationWizard::exec()
{
    const int result = QWizard::exec();
    tellOutcome();
    return result;
}

void CalibrationWizard::tellOutcome()
{
    // Told after the wizard has closed, outside the engine's signal that may have closed it.
    const bool finished = result() == QDialog::Accepted && calSumPage;
    if (!finished && storeProblem.isEmpty())
        return;
    QMessageBox box(storeProblem.isEmpty() ? QMessageBox::Information : QMessageBox::Warning,
                    tr("Calibration"), QString(), QMessageBox::Ok, parentWidget());
    QPushButton *openFolder = nullptr;
    QString folder;
    if (finished) {
        const QString pdf = QDir::toNativeSeparators(calSumPage->finishedPdf());
        folder = QFileInfo(calSumPage->finishedPdf()).absolutePath();
        box.setText(tr("The certificate was saved as \"%1\".\nThe voltages were added to \"%2\".")
                        .arg(pdf, QDir::toNativeSeparators(calSumPage->finishedCsv())));
        openFolder = box.addButton(tr("&Open Folder"), QMessageBox::ActionRole);
    }
    if (!storeProblem.isEmpty()) {
        box.setText((box.text().isEmpty() ? QString() : box.text() + u'\n')
                    + tr("The calibration could not be stored in the calibration history."));
        box.setInformativeText(storeProblem);
    }
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    if (!openFolder || box.clickedButton() != openFolder)
        return;
    LOG << "Opening the certificate's folder" << folder;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        QMessageBox::warning(parentWidget(), tr("Calibration"),
                             tr("No program to show folders was found. The certificate is in "
                                "\"%1\".")
                                 .arg(QDir::toNativeSeparators(folder)));
}

bool CalibrationWizard::storeRun(int result, int page)
{
    if (stored || !calSumPage || page <= CalPages::Intro)
        return false; // a run left on the intro page has measured nothing and touched nothing
    stored = true;
    ending = true;
    endResult = result;
    CalibrationRecord &r = endRecord;
    r = calSumPage->endRecord(result == QDialog::Accepted);
    r.started = started;
    r.finished = QDateTime::currentDateTime();
    r.calibrationSaved = saveAcknowledged;
    if (result == QDialog::Accepted) {
        r.outcome = CalibrationRecord::Outcome::Finished;
    } else if (result == SenderLost) {
        r.outcome = CalibrationRecord::Outcome::Aborted;
        r.reason = tr("The sender stopped answering on page %1").arg(page);
    } else {
        r.outcome = CalibrationRecord::Outcome::Cancelled;
        r.reason = tr("Cancelled by the technician on page %1").arg(page);
    }
    // Nothing more may be pressed; the window keeps repainting while the history works.
    for (auto which :
         { QWizard::BackButton, QWizard::NextButton, QWizard::FinishButton, QWizard::CancelButton })
        button(which)->setEnabled(false);
    setButtonText(QWizard::CustomButton1, tr("storing\u2026"));
    setOption(QWizard::HaveCustomButton1, true);
    button(QWizard::CustomButton1)->setEnabled(false);
    LOG << "Storing the run in the calibration history.";
    const CalibrationRecord record = r;
    m_history->run<StoreAnswer>(
        this, [record](CalibrationHistory &h) { return StoreAnswer { h.store(record) }; },
        [this](const StoreAnswer &a) {
            onStored(a.result.certificateNumber, a.result.error, a.result.pending);
        });
    storeTimer.start();
    return true;
}

void CalibrationWizard::onStored(const QString &number, const QString &problem, bool pending)
{
    if (!ending)
        return; // the wizard stopped waiting for it
    storeTimer.stop();
    ending = false;
    if (problem.isEmpty()) {
        LOG << "Run stored as" << number;
    } else {
        LOG << "Run not stored:" << problem;
        storeProblem = problem;
        if (pending)
            storeProblem += tr("\n\nThe run is kept and will be stored once the history can be "
                               "written again.");
        if (endResult == QDialog::Accepted)
            storeProblem += tr("\n\nThe certificate and the voltages file were written as usual.");
    }
    QDialog::done(endResult);
}

void CalibrationWizard::onStoreTimedOut()
{
    // The history may still take the run later: the pending line is then found stored.
    QString why;
    const bool pending
        = PendingFile(m_history->location().pendingFile)
              .append(QJsonDocument(endRecord.toJson()).toJson(QJsonDocument::Compact), &why);
    onStored(endRecord.certificateNumber,
             tr("%1 did not answer within %2 s")
                     .arg(m_history->location().describe())
                     .arg(StoreWaitMs / 1000)
                 + (pending ? tr("; the run waits in %1").arg(m_history->location().pendingFile)
                            : tr("; and the run cannot wait either: %1").arg(why)),
             pending);
}

void CalibrationWizard::onVX4ResponseRdy(const VX4Message &msg)
{
    // From now on the sender holds this run's calibration, whatever becomes of the run.
    if (msg.command == VX4Protocol::SaveCalData && !saveAcknowledged) {
        saveAcknowledged = true;
        LOG << "The sender acknowledged the calibration.";
    }
}

void CalibrationWizard::reject()
{
    LOG << "CalibrationWizard::reject() called.";
    done(Cancelled);
}

void CalibrationWizard::done(int result)
{
    if (!isVisible() || ending)
        return; // ended already, e.g. by the sender's loss while Finish asked where to write
    const int page = currentId();
    // QWizard would run the current page's validatePage() for any result but Rejected, and so
    // save a calibration, a voltage row or the intro's settings that the technician walked away
    // from: only Finish validates.
    if (result == QDialog::Accepted && (!validateCurrentPage() || !isVisible() || ending))
        return; // still open when Finish could not write the certificate
    if (!storeRun(result, page))
        QDialog::done(result);
}
