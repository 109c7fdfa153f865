#include "app/gui/error_box.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace qm::gui {

void ShowApplicationError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QCoreApplication::applicationName(), text);
}

void ShowNotice(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QCoreApplication::applicationName(), text);
}

}  // namespace qm::gui
