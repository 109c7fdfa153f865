#pragma once
// A table in a fresh directory, opened as an ordered table, for index tests.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "index/index_table.h"
#include "index_test_util.h"

namespace qm::index::test {

class TableFixture : public ::testing::Test {
 protected:
  void Create(const std::vector<FieldSpec>& fields, const std::string& name = "T.DBF");
  // Blanks the record, puts the values into fields 1.. and appends.
  void Append(const std::vector<std::string>& values);
  // Puts values into the current record's fields 1.. and replaces record `recNo`.
  void Replace(int32_t recNo, const std::vector<std::string>& values);
  // Record numbers visited by the table's own moves from top to end of file.
  std::vector<int32_t> Walk();
  std::vector<int32_t> WalkBack();

  TempDir m_dir;
  std::unique_ptr<TbrIndexTable> m_table;
};

}  // namespace qm::index::test
