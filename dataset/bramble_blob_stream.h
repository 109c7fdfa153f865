#pragma once
// TBrBlobStream: reads and writes the memo (or blob) field of the dataset's
// record for the current state. Loading reads the staged text of the edit when
// there is one, else the memo file; saving (on destruction, when modified in
// edit or insert state) stages the text in the dataset, which writes it at
// Post. Text is translated between the file's code page and UTF-8 when the
// dataset translates.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dataset/dataset.h"

namespace qm::index {

class TBrambleDataSet;

class TBrBlobStream : public TStream {
 public:
  // Write and read-write modes: "Field 'X' cannot be modified" for a read-only
  // field, "Dataset not in edit or insert mode" outside edit and insert.
  TBrBlobStream(TField& field, TBlobStreamMode mode);
  ~TBrBlobStream() override;  // saves when modified; a failed save is shown, never thrown

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, TSeekOrigin origin) override;
  void Truncate();
  bool Modified() const { return m_modified; }

  // Where a failed save is shown (the application's exception display);
  // by default it goes to standard error.
  static std::function<void(const std::exception&)>& ShowException();

 private:
  void LoadMemo();
  void SaveMemo();

  TField& m_field;
  int m_fieldNo;
  TBrambleDataSet& m_dataSet;
  const char* m_buffer;
  std::vector<char> m_data;  // size + 1 bytes, the last one 0; empty: no data
  int32_t m_size = 0;
  int32_t m_position = 0;
  bool m_modified = false;
};

}  // namespace qm::index
