#pragma once
// A memo editor bound to one field of a dataset (the product notes): shows
// the current record's text, puts the dataset into edit state when the user
// types, and hands its text to the field when the dataset posts. Line breaks
// are CR LF in the field and plain line feeds in the editor.

#include <QPlainTextEdit>

#include <string>

#include "dataset/dataset.h"

namespace qm::gui {

class DataSetMemoEdit : public QPlainTextEdit, private dataset::TDataLink {
  Q_OBJECT

 public:
  DataSetMemoEdit(dataset::TDataSet& dataSet, std::string fieldName, QWidget* parent = nullptr);
  ~DataSetMemoEdit() override;

  const std::string& FieldName() const { return m_fieldName; }
  // Shows the field's text again, dropping what was typed.
  void Reload();

 signals:
  void errorOccurred(const QString& message);

 private:
  void ActiveChanged() override { Reload(); }
  void DataSetChanged() override { Reload(); }
  void Scrolled() override { Reload(); }
  void RecordChanged(dataset::TField* field) override;
  void StateChanged() override;
  void UpdateData() override;
  void OnTextChanged();
  dataset::TField* Field() const;

  dataset::TDataSet& m_dataSet;
  std::string m_fieldName;
  bool m_loading = false;
  bool m_dirty = false;
};

}  // namespace qm::gui
