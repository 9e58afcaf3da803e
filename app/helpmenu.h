#pragma once

#include <QString>

class QWidget;

/// The Help menu's two entries: the About box with the licence, and the installed user guide.
namespace HelpMenu {

/// The user guide beside the program: the share folder next to its bin folder.
QString userGuidePath();

/// Opens the user guide in the desktop's browser, or says in a box why it cannot.
void openUserGuide(QWidget *parent);

/// Name, version, build and toolkit versions, and the licence (its whole text under Details).
void showAbout(QWidget *parent);

} // namespace HelpMenu
