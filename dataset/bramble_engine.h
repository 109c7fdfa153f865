#pragma once
// The dataset component's engine table object and the scope guards its
// operations use (internal to the bramble_dataset*.cpp files).

#include <string>

#include "dataset/bramble_dataset.h"

namespace qm::dataset {

// The ordered table whose reports travel to the dataset's error path.
class TBrambleDataSet::EngineTable : public index::TbrIndexTable {
 public:
  EngineTable(TBrambleDataSet& owner, const std::string& path, uint8_t openMode)
      : index::TbrIndexTable(path, openMode), m_owner(owner) {}

  void Error(int32_t code, int32_t subCode, const char* text) override {
    m_owner.BrambleError(code, subCode, text);
  }

 private:
  TBrambleDataSet& m_owner;
};

// Points the engine's record image at a dataset buffer for one scope.
class TbrImagePointer {
 public:
  TbrImagePointer(dbf::TbrTable& table, const char* buffer)
      : m_table(table), m_previous(table.RecordImage()) {
    m_table.PointRecordImage(const_cast<char*>(buffer));
  }
  ~TbrImagePointer() { m_table.PointRecordImage(m_previous); }
  TbrImagePointer(const TbrImagePointer&) = delete;
  TbrImagePointer& operator=(const TbrImagePointer&) = delete;

 private:
  dbf::TbrTable& m_table;
  char* m_previous;  // nested scopes (a filter reading fields during a fetch) restore in turn
};

// Releases one table lock at the end of a scope unless dismissed.
class TbrUnlockScope {
 public:
  explicit TbrUnlockScope(dbf::TbrTable& table) : m_table(&table) {}
  ~TbrUnlockScope() {
    if (m_table == nullptr) return;
    dbf::TbrSuppressErrors quiet(*m_table);
    m_table->UnlockTable();
  }
  void Dismiss() { m_table = nullptr; }
  TbrUnlockScope(const TbrUnlockScope&) = delete;
  TbrUnlockScope& operator=(const TbrUnlockScope&) = delete;

 private:
  dbf::TbrTable* m_table;
};

}  // namespace qm::dataset
