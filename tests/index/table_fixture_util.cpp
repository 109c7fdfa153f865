#include "table_fixture_util.h"

namespace qm::index::test {

void TableFixture::Create(const std::vector<FieldSpec>& fields, const std::string& name) {
  WriteEmptyTable(m_dir.File(name), fields);
  m_table = std::make_unique<TbrIndexTable>(m_dir.File(name), dbf::kOpenSharedReadWrite);
  ASSERT_TRUE(m_table->OpenTable());
}

void TableFixture::Append(const std::vector<std::string>& values) {
  m_table->BlankRecord();
  for (size_t i = 0; i < values.size(); ++i) m_table->FieldPut(static_cast<int32_t>(i + 1), values[i]);
  ASSERT_TRUE(m_table->AppendRecord());
}

void TableFixture::Replace(int32_t recNo, const std::vector<std::string>& values) {
  ASSERT_TRUE(m_table->dbf::TbrTable::GoTo(recNo));
  for (size_t i = 0; i < values.size(); ++i) m_table->FieldPut(static_cast<int32_t>(i + 1), values[i]);
  ASSERT_TRUE(m_table->ReplaceRecord(recNo));
}

std::vector<int32_t> TableFixture::Walk() {
  std::vector<int32_t> order;
  for (bool ok = m_table->GoTo(dbf::kGoTop); ok; ok = m_table->GoTo(dbf::kGoNext))
    order.push_back(m_table->RecNo());
  return order;
}

std::vector<int32_t> TableFixture::WalkBack() {
  std::vector<int32_t> order;
  for (bool ok = m_table->GoTo(dbf::kGoBottom); ok; ok = m_table->GoTo(dbf::kGoPrior))
    order.insert(order.begin(), m_table->RecNo());
  return order;
}

}  // namespace qm::index::test
