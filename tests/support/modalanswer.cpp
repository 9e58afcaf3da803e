#include "modalanswer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace ModalAnswer {

namespace {
// Waits for a new visible modal widget that `accepts` takes; another dialog opening first (a
// progress dialog before the box that follows it) is passed over.
void expectMatching(std::function<bool(QWidget *)> accepts, std::function<void(QWidget *)> action,
                    int timeoutMs)
{
    QPointer<QWidget> before = QApplication::activeModalWidget();
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [=, deadline = QDeadlineTimer(timeoutMs)] {
        QWidget *modal = QApplication::activeModalWidget();
        const bool found = modal && modal != before && modal->isVisible() && accepts(modal);
        if (!found && !deadline.hasExpired())
            return;
        poll->stop();
        poll->deleteLater();
        if (!found)
            return qWarning("ModalAnswer: no modal widget appeared");
        action(modal);
    });
    poll->start(10);
}
} // namespace

void expect(std::function<void(QWidget *)> action, int timeoutMs)
{
    expectMatching([](QWidget *) { return true; }, action, timeoutMs);
}

void pressButton(QMessageBox::StandardButton button, QString *seenText, QString *seenInformative,
                 int timeoutMs)
{
    // Only a box with that button is taken, so the action finds it.
    const auto hasButton = [=](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        return box && box->button(button);
    };
    const auto press = [=](QWidget *modal) {
        auto *box = static_cast<QMessageBox *>(modal);
        if (seenText)
            *seenText = box->text();
        if (seenInformative)
            *seenInformative = box->informativeText();
        box->button(button)->click();
    };
    expectMatching(hasButton, press, timeoutMs);
}

void closeAll()
{
    while (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
        qWarning("ModalAnswer: closing \"%s\" (%s), left open", qPrintable(dialog->windowTitle()),
                 dialog->metaObject()->className());
        dialog->done(QDialog::Rejected);
    }
}

} // namespace ModalAnswer
