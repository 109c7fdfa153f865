#include "app/gui/error_box.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

namespace qm::gui {

void ShowApplicationError(QWidget* parent, const QString& text, const QString& nextStep) {
  if (nextStep.isEmpty()) {
    QMessageBox::critical(parent, QCoreApplication::applicationName(), text);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
  box.setInformativeText(nextStep);
  box.exec();
}

void ShowNotice(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QCoreApplication::applicationName(), text);
}

void ShowWindowInFront(QWidget* window) {
  static const char kPlaced[] = "qmPlaced";
  if (!window->property(kPlaced).toBool()) {
    window->setProperty(kPlaced, true);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      window->move(screen->availableGeometry().center() - window->rect().center());
  }
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace qm::gui
