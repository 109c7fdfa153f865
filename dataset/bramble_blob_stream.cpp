#include "dataset/bramble_blob_stream.h"

#include <cstring>

#include "dataset/bramble_dataset.h"
#include "dbf/scope_exit.h"

namespace qm::dataset {

namespace {
TBrambleDataSet& BrambleOf(TField& field) {
  auto* dataSet = dynamic_cast<TBrambleDataSet*>(&field.DataSet());
  if (dataSet == nullptr) throw EDatabaseError("Invalid class typecast");
  return *dataSet;
}

bool Editing(TDataSetState state) { return state == TDataSetState::dsEdit || state == TDataSetState::dsInsert; }
}  // namespace

TBrBlobStream::TBrBlobStream(TField& field, TBlobAccess mode)
    : m_field(field), m_fieldNo(field.FieldNo()), m_dataSet(BrambleOf(field)), m_buffer(m_dataSet.BufferForState()) {
  if (mode != TBlobAccess::baRead) {
    if (field.ReadOnly()) throw EDatabaseError("Field '" + field.DisplayName() + "' cannot be modified");
    if (!Editing(m_dataSet.State())) throw EDatabaseError("Dataset not in edit or insert mode");
  }
  if (m_buffer == nullptr) return;
  if (mode == TBlobAccess::baWrite) {
    m_modified = true;
    StageMemo();
    return;
  }
  LoadMemo();
}

void TBrBlobStream::LoadMemo() {
  std::string text;
  if (Editing(m_dataSet.State()) && m_dataSet.HasStagedMemo(m_fieldNo)) {
    text = m_dataSet.StagedMemo(m_fieldNo);
  } else {
    dbf::TbrTable& engine = *m_dataSet.Engine();
    char* previous = engine.RecordImage();
    engine.PointRecordImage(const_cast<char*>(m_buffer));
    dbf::TbrScopeExit restore([&engine, previous] { engine.PointRecordImage(previous); });
    text = engine.MemoText(m_fieldNo);
  }
  if (text.empty()) return;
  if (m_field.Transliterate()) text = m_dataSet.FileTextToUtf8(text.c_str());  // up to its first zero byte
  m_data.assign(text.begin(), text.end());
  m_data.push_back(0);
  m_size = static_cast<int32_t>(text.size());
  m_position = 0;
}

void TBrBlobStream::StageMemo() {
  if (!Editing(m_dataSet.State())) return;
  std::string text = m_data.empty() ? std::string() : std::string(m_data.data(), static_cast<size_t>(m_size));
  if (m_field.Transliterate()) text = m_dataSet.Utf8ToFileText(text);
  m_dataSet.StageMemo(m_field, std::move(text));
}

int32_t TBrBlobStream::Read(void* buffer, int32_t count) {
  if (m_data.empty() || count <= 0 || m_position >= m_size || m_position < 0) return 0;
  const int32_t n = std::min(count, m_size - m_position);
  std::memcpy(buffer, m_data.data() + m_position, static_cast<size_t>(n));
  m_position += n;
  return n;
}

int32_t TBrBlobStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  if (m_data.empty()) m_position = 0;
  const int32_t keep = std::max<int32_t>(0, std::min(m_position, m_size));
  std::vector<char> data(m_data.begin(), m_data.begin() + keep);
  data.resize(static_cast<size_t>(m_position), 0);  // a position past the end leaves zero bytes
  const char* bytes = static_cast<const char*>(buffer);
  data.insert(data.end(), bytes, bytes + count);
  m_size = static_cast<int32_t>(data.size());
  data.push_back(0);
  m_data.swap(data);
  m_position += count;
  m_modified = true;
  StageMemo();
  return count;
}

int32_t TBrBlobStream::Seek(int32_t offset, TSeekFrom origin) {
  switch (origin) {
    case TSeekFrom::sfStart: m_position = offset; break;
    case TSeekFrom::sfPosition: m_position += offset; break;
    case TSeekFrom::sfEnd: m_position = m_size + offset; break;
  }
  return m_position;
}

void TBrBlobStream::Truncate() {
  m_data.clear();
  m_size = m_position = 0;
  m_modified = true;
  StageMemo();
}

}  // namespace qm::dataset
