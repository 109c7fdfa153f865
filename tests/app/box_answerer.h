#pragma once
// For window tests: answers every modal message box that opens, after recording its
// text and icon, until destroyed; also notes a wait cursor shown over a notice.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace qm::test {

class BoxAnswerer : public QObject {
 public:
  BoxAnswerer() {
    connect(&m_timer, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      texts << box->text();
      icons << box->icon();
      busyCursorShown |= QApplication::overrideCursor() != nullptr;
      box->accept();
    });
    m_timer.start(20);
  }
  QStringList texts;
  QList<QMessageBox::Icon> icons;
  bool busyCursorShown = false;

 private:
  QTimer m_timer;
};

}  // namespace qm::test
