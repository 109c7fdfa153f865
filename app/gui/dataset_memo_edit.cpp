#include "app/gui/dataset_memo_edit.h"

namespace qm::gui {

using dataset::TDataSetState;

DataSetMemoEdit::DataSetMemoEdit(dataset::TDataSet& dataSet, std::string fieldName, QWidget* parent)
    : QPlainTextEdit(parent), m_dataSet(dataSet), m_fieldName(std::move(fieldName)) {
  m_dataSet.AddDataLink(this);
  connect(this, &QPlainTextEdit::textChanged, this, &DataSetMemoEdit::OnTextChanged);
  Reload();
}

DataSetMemoEdit::~DataSetMemoEdit() = default;  // the link detaches itself

dataset::TField* DataSetMemoEdit::Field() const {
  return m_dataSet.Active() ? m_dataSet.FindField(m_fieldName) : nullptr;
}

void DataSetMemoEdit::Reload() {
  dataset::TField* field = Field();
  QString text;
  try {
    if (field != nullptr && !m_dataSet.IsEmpty()) text = QString::fromStdString(field->AsString());
  } catch (const std::exception& e) {
    emit errorOccurred(QString::fromUtf8(e.what()));
  }
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  m_loading = true;
  setPlainText(text);
  m_loading = false;
  m_dirty = false;
  setReadOnly(field == nullptr || !m_dataSet.CanModify() || field->ReadOnly());
}

void DataSetMemoEdit::RecordChanged(dataset::TField* field) {
  if (!m_dirty && (field == nullptr || field == Field())) Reload();
}

void DataSetMemoEdit::StateChanged() {
  if (m_dataSet.State() == TDataSetState::dsBrowse) Reload();  // posted or cancelled
}

// Typing starts an edit of the current record (or of a new one on an empty table).
void DataSetMemoEdit::OnTextChanged() {
  if (m_loading || Field() == nullptr) return;
  try {
    m_dirty = true;  // before Edit: its notification must not reload over the typing
    const TDataSetState state = m_dataSet.State();
    if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert) m_dataSet.Edit();
  } catch (const std::exception& e) {
    emit errorOccurred(QString::fromUtf8(e.what()));
    Reload();
  }
}

void DataSetMemoEdit::UpdateData() {
  dataset::TField* field = Field();
  if (!m_dirty || field == nullptr) return;
  QString text = toPlainText();
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  m_dirty = false;
  field->SetAsString(text.toStdString());
}

}  // namespace qm::gui
