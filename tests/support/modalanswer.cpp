#include "modalanswer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace ModalAnswer {

void expect(std::function<void(QWidget *)> action, int timeoutMs)
{
    QPointer<QWidget> before = QApplication::activeModalWidget();
    auto *poll = new QTimer(qApp);
    auto deadline = QDeadlineTimer(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, poll, [=]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal != before && modal->isVisible()) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        } else if (deadline.hasExpired()) {
            poll->stop();
            poll->deleteLater();
            qWarning("ModalAnswer: no modal widget appeared");
        }
    });
    poll->start(10);
}

void pressButton(const QString &text, int timeoutMs)
{
    expect(
        [text](QWidget *modal) {
            const auto buttons = modal->findChildren<QAbstractButton *>();
            for (QAbstractButton *b : buttons) {
                if (b->text().remove(QLatin1Char('&')) == text && b->isVisible()) {
                    b->click();
                    return;
                }
            }
            qWarning("ModalAnswer: no button %s", qPrintable(text));
        },
        timeoutMs);
}

void pressButton(QMessageBox::StandardButton button, QString *seenText, QString *seenInformative,
                 int timeoutMs)
{
    expect(
        [=](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box) {
                qWarning("ModalAnswer: the modal widget is no message box");
                return;
            }
            if (seenText)
                *seenText = box->text();
            if (seenInformative)
                *seenInformative = box->informativeText();
            if (QAbstractButton *b = box->button(button))
                b->click();
            else
                qWarning("ModalAnswer: the message box lacks the requested button");
        },
        timeoutMs);
}

} // namespace ModalAnswer
