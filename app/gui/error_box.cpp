#include "app/gui/error_box.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

namespace qm::gui {

void ShowApplicationError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QCoreApplication::applicationName(), text);
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
