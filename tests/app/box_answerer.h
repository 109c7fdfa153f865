#pragma once
// For window tests: answers every modal message box that opens, after recording its
// text, caption and icon, until destroyed; also notes a wait cursor shown over a notice.
// `answer` picks the button to click when the box has it (else the box is accepted);
// `tickCheckBox` ticks the box's check box first, when it has one.
#include <QAbstractButton>
#include <QCheckBox>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace qm::test {

class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::NoButton) : answer(answer) {
    connect(&m_timer, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      texts << box->text();
      details << box->informativeText();
      captions << box->windowTitle();
      icons << box->icon();
      busyCursorShown |= QApplication::overrideCursor() != nullptr;
      if (tickCheckBox && box->checkBox()) box->checkBox()->setChecked(true);
      if (QAbstractButton* button = box->button(this->answer)) button->click();
      else box->accept();
    });
    m_timer.start(20);
  }
  QMessageBox::StandardButton answer;
  QStringList texts;
  QStringList details;  // the informative text under the main text (a next step)
  QStringList captions;
  QList<QMessageBox::Icon> icons;
  bool busyCursorShown = false;
  bool tickCheckBox = false;

 private:
  QTimer m_timer;
};

}  // namespace qm::test
