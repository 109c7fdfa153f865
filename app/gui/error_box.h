#pragma once
// The application's one error box: every command that stops on an error shows
// its text here, and the program goes on. Also how notices and the windows
// that are not modal are shown.

#include <QString>

class QWidget;

namespace qm::gui {

// `nextStep`, when given, says below the error what to do about it.
void ShowApplicationError(QWidget* parent, const QString& text, const QString& nextStep = {});
// Completion notices: a modal box with an OK button.
void ShowNotice(QWidget* parent, const QString& text);

// Shows a window that is not modal (about box, help, product window): the
// first time centred on the screen, later where the user left it; an open one
// comes to the front.
void ShowWindowInFront(QWidget* window);

}  // namespace qm::gui
