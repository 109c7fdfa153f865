#pragma once
// The plain reader: a table file read in record order with nothing else
// (no locks, no memo file, no writes). Opens with sharing for readers and
// writers, checks the header and descriptors like the table object and
// gives record images and field texts.
//
//   TbrPlainReader reader;
//   if (!reader.Open("catalog.dbf")) fail(reader.ErrorMessage());
//   std::vector<char> image;
//   for (int32_t r = 1; r <= reader.RecordCount(); ++r)
//     if (reader.ReadRecord(r, image) && !TbrPlainReader::Deleted(image)) ...
//
// Failures raise nothing: Open and ReadRecord return false and ErrorMessage()
// holds the engine's message ("Bramble Error ...").

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/table.h"

namespace qm::dbf {

class TbrPlainReader {
 public:
  TbrPlainReader();
  ~TbrPlainReader();

  // Missing file, unknown version byte or a damaged layout: false.
  bool Open(const std::string& path);
  void Close();
  const std::string& ErrorMessage() const;

  int32_t RecordCount() const;
  int32_t FieldCount() const;
  const TbrField& Field(int32_t i) const;  // 1-based; empty outside the range
  // Field number by name (case-insensitive, trailing blanks ignored); 0 none.
  int32_t FieldIndex(std::string_view name) const;

  // Fills image with the record-length bytes of record r (1..RecordCount()).
  bool ReadRecord(int32_t r, std::vector<char>& image);
  static bool Deleted(const std::vector<char>& image) { return !image.empty() && image[0] == '*'; }
  // The field's bytes with trailing blanks removed; "" for an unknown name.
  std::string_view FieldText(const std::vector<char>& image, std::string_view name) const;

 private:
  class Table;
  std::unique_ptr<Table> m_table;
  std::string m_error;
};

}  // namespace qm::dbf
