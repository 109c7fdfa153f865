#pragma once
// TBrBlobStream: reads and writes the memo (or blob) field of the dataset's
// record for the current state. Loading reads the staged text of the edit when
// there is one, else the memo file. In edit or insert state every change
// (opening for write, Write, Truncate) stages the whole text in the dataset at
// once, which writes it at Post: a text the memo file refuses is refused there,
// to the caller, and destroying the stream only lets go of its copy. Text is
// translated between the file's code page and UTF-8 when the dataset translates.

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/dataset.h"

namespace qm::dataset {

class TBrambleDataSet;

class TBrBlobStream : public TStream {
 public:
  // Write and read-write modes: "Field 'X' cannot be modified" for a read-only
  // field, "Dataset not in edit or insert mode" outside edit and insert. Write
  // mode starts empty and stages that (an empty memo unless something is written).
  TBrBlobStream(TField& field, TBlobAccess mode);

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, TSeekFrom origin) override;
  void Truncate();
  bool Modified() const { return m_modified; }

 private:
  void LoadMemo();
  // Hands the text to the dataset when it is editing; throws its refusal.
  void StageMemo();

  TField& m_field;
  int m_fieldNo;
  TBrambleDataSet& m_dataSet;
  const char* m_buffer;
  std::vector<char> m_data;  // size + 1 bytes, the last one 0; empty: no data
  int32_t m_size = 0;
  int32_t m_position = 0;
  bool m_modified = false;
};

}  // namespace qm::dataset
