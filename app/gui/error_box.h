#pragma once
// The application's one error box: every command that stops on an error shows
// its text here, and the program goes on.

#include <QString>

class QWidget;

namespace qm::gui {

void ShowApplicationError(QWidget* parent, const QString& text);
// Completion notices: a modal box with an OK button.
void ShowNotice(QWidget* parent, const QString& text);

}  // namespace qm::gui
