#pragma once
// A navigator bar bound to a dataset: first, prior, next, last, insert,
// delete, edit, post, cancel and refresh buttons, each with its hint, enabled
// as the dataset's state allows. A refused operation is reported by
// errorOccurred() (the window shows it in its error box); delete asks
// ConfirmDelete first when that is set.

#include <QWidget>

#include <array>
#include <functional>

#include "dataset/dataset.h"

class QToolButton;

namespace qm::gui {

class DataSetNavigator : public QWidget, private dataset::TDataLink {
  Q_OBJECT

 public:
  enum Button { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh, ButtonCount };

  explicit DataSetNavigator(dataset::TDataSet& dataSet, QWidget* parent = nullptr);
  ~DataSetNavigator() override;

  QToolButton* ButtonAt(Button button) const { return m_buttons[button]; }
  // Runs the button's operation as a click does.
  void Click(Button button);
  // Asked before a delete; false keeps the record. Not set: no question.
  std::function<bool()> ConfirmDelete;

 signals:
  void errorOccurred(const QString& message);

 private:
  void ActiveChanged() override { UpdateButtons(); }
  void DataSetChanged() override { UpdateButtons(); }
  void StateChanged() override { UpdateButtons(); }
  void Scrolled() override { UpdateButtons(); }
  void UpdateButtons();
  void Run(Button button);

  dataset::TDataSet& m_dataSet;
  std::array<QToolButton*, ButtonCount> m_buttons{};
};

}  // namespace qm::gui
