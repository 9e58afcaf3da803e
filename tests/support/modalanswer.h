#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

/// Answers modal dialogs that a test's action opens: each call arms a one-shot watcher that waits
/// for the next modal widget to appear and hands it to an action.
namespace ModalAnswer {

/// Waits (in the event loop, up to `timeoutMs`) for a modal widget other than the current one
/// and calls `action` with it once.
void expect(std::function<void(QWidget *)> action, int timeoutMs = 10000);
/// Clicks a standard button of the next modal message box; stores its text in `*seenText` and
/// informative text in `*seenInformative` when given.
void pressButton(QMessageBox::StandardButton button, QString *seenText = nullptr,
                 QString *seenInformative = nullptr, int timeoutMs = 10000);

/// Closes every modal dialog still open, innermost first, with a warning naming each: a test
/// that fails half-way through a dialog ends there instead of waiting for ctest's time-out.
void closeAll();

} // namespace ModalAnswer
