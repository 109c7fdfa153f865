#include "app/gui/dataset_navigator.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace qm::gui {

namespace {
struct ButtonText {
  const char* label;
  const char* hint;
};
constexpr ButtonText kTexts[] = {
    {"|<", "First record"}, {"<", "Prior record"},  {">", "Next record"},   {">|", "Last record"},
    {"+", "Insert record"}, {"-", "Delete record"}, {"^", "Edit record"},   {"\u2713", "Post edit"},
    {"x", "Cancel edit"},   {"\u21BB", "Refresh data"}};
}  // namespace

DataSetNavigator::DataSetNavigator(dataset::TDataSet& dataSet, QWidget* parent)
    : QWidget(parent), m_dataSet(dataSet) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  for (int b = 0; b < ButtonCount; ++b) {
    auto* button = new QToolButton(this);
    button->setText(QString::fromUtf8(kTexts[b].label));
    button->setToolTip(QString::fromUtf8(kTexts[b].hint));
    button->setObjectName(QString::fromUtf8(kTexts[b].hint));
    connect(button, &QToolButton::clicked, this, [this, b] { Click(static_cast<Button>(b)); });
    layout->addWidget(button);
    m_buttons[b] = button;
  }
  layout->addStretch();
  m_dataSet.AddDataLink(this);
  UpdateButtons();
}

DataSetNavigator::~DataSetNavigator() = default;  // the link detaches itself

void DataSetNavigator::Click(Button button) {
  try {
    Run(button);
  } catch (const std::exception& e) {
    emit errorOccurred(QString::fromUtf8(e.what()));
  }
  UpdateButtons();
}

void DataSetNavigator::Run(Button button) {
  switch (button) {
    case First: return m_dataSet.First();
    case Prior: return m_dataSet.Prior();
    case Next: return m_dataSet.Next();
    case Last: return m_dataSet.Last();
    case Insert: return m_dataSet.Insert();
    case Delete:
      if (!ConfirmDelete || ConfirmDelete()) m_dataSet.Delete();
      return;
    case Edit: return m_dataSet.Edit();
    case Post: return m_dataSet.Post();
    case Cancel: return m_dataSet.Cancel();
    case Refresh: return m_dataSet.Refresh();
    default: return;
  }
}

void DataSetNavigator::UpdateButtons() {
  const bool active = m_dataSet.Active();
  const bool editing = active && (m_dataSet.State() == dataset::TDataSetState::dsEdit ||
                                  m_dataSet.State() == dataset::TDataSetState::dsInsert);
  const bool browsing = active && !editing;
  const bool canModify = active && m_dataSet.CanModify();
  const bool empty = m_dataSet.IsEmpty();
  m_buttons[First]->setEnabled(browsing && !m_dataSet.Bof());
  m_buttons[Prior]->setEnabled(browsing && !m_dataSet.Bof());
  m_buttons[Next]->setEnabled(browsing && !m_dataSet.Eof());
  m_buttons[Last]->setEnabled(browsing && !m_dataSet.Eof());
  m_buttons[Insert]->setEnabled(canModify && browsing);
  m_buttons[Delete]->setEnabled(canModify && browsing && !empty);
  m_buttons[Edit]->setEnabled(canModify && browsing && !empty);
  m_buttons[Post]->setEnabled(editing);
  m_buttons[Cancel]->setEnabled(editing);
  m_buttons[Refresh]->setEnabled(browsing);
}

}  // namespace qm::gui
