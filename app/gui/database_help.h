#pragma once
// "Help on Database Creation": a resizable window beside the setup dialog
// (not modal) with the guide to creating the product table, read only.

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;

namespace qm::gui {

// The 61 lines of the guide, in order.
QStringList DatabaseHelpLines();

class THelpForm : public QWidget {
  Q_OBJECT
 public:
  explicit THelpForm(QWidget* parent = nullptr);
  QPlainTextEdit* Memo() const { return m_memo; }

 private:
  QPlainTextEdit* m_memo;
};

}  // namespace qm::gui
