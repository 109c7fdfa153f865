#pragma once
// The table creator: writes a new, empty DBF table, and its empty memo file
// when a memo-type field is among the fields.
//
//   TbrTableCreator creator("catalog.dbf", TbrDBFTypes::DBaseIII);  // -> CATALOG.DBF
//   creator.AddField("CODE", 'C', 8, 0);
//   creator.AddField("Snotes", 'M', 10, 0);
//   if (creator.Create()) ...  // the table and CATALOG.DBT are on disk
//
// Create replaces an existing file of the name: the new files are written
// under temporary names and renamed into place, so a program that has the old
// table open keeps writing the old file and is told so at its next header
// refresh (TbrTable::RefreshHeader). Create is refused with code 12 (subcode
// 1108) when the table or memo file is open in this process, and a
// field list the header cannot hold (a length or decimal count above 255, a
// record above 65535 bytes, more than 2046 fields) is refused with code 1004,
// subcode 1108, the field's name as text, before anything is written. Failures
// go through the error hook (errors.h); when either file cannot be written,
// neither replaces an old one. A creator destroyed without Create creates first.
//
// The field-list checks of the table creation component (one "name;T;len;dec"
// text per field, names unique in upper case) are here too, so that every
// caller checks a list the same way before anything is created.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/disk_file.h"

namespace qm::dbf {

enum class TbrDBFTypes : uint8_t { DBaseIII = 0, DBaseIV = 1, FoxPro2 = 2 };

// One parsed field line.
struct TbrFieldDef {
  std::string name;  // at most 10 characters, as written
  char type = 0;
  int32_t length = 0;
  int32_t decimals = 0;
};

// Why name cannot be a field name, or empty when it can: names are 1 to 10
// ASCII letters, digits and '_', starting with a letter, so that every other
// program, key expression and the header's 11 name bytes hold them unchanged.
std::string FieldNameProblem(std::string_view name);

// Parses "name;T;length;decimals" (for example "Snotes;M;10;0"): the name is
// everything before the first ';' (refused unless FieldNameProblem() finds
// nothing wrong with it), the type exactly one
// character followed by ';', the length the integer before the next ';', the
// decimals the integer in the first three characters of the rest. False when
// the line does not parse or its name is empty.
bool ParseFieldLine(std::string_view line, TbrFieldDef& def);
// Checks a whole list: not empty, every line parses, no name repeats an
// earlier one in upper case. On failure returns false and sets badLine to the
// index of the offending line (the list size for an empty list).
bool ParseFieldList(const std::vector<std::string>& lines, std::vector<TbrFieldDef>& defs,
                    std::size_t& badLine);

// "Field list is invalid": the text callers show for a list that fails the checks.
extern const char* const kFieldListInvalid;

class TbrTableCreator {
 public:
  // Normalises the path: blanks and double quotes trimmed at both ends, the
  // file name upper-cased, ".DBF" added when it has no extension.
  TbrTableCreator(const std::string& path, TbrDBFTypes dialect);
  ~TbrTableCreator();
  TbrTableCreator(const TbrTableCreator&) = delete;
  TbrTableCreator& operator=(const TbrTableCreator&) = delete;

  // Adds a field after the others. An empty name adds nothing. The name is
  // cut to 10 characters and upper-cased, the type letter upper-cased; D gets
  // length 8, L length 1, M/B/G length 10 (and make a memo file), all with 0
  // decimals; other types keep length and decimals as given.
  void AddField(std::string_view name, char type, int32_t length, int32_t decimals);

  // Writes the table file and, with a memo-type field, the memo file.
  bool Create();

  const std::string& Path() const { return m_path; }
  std::string MemoPath() const;
  TbrDBFTypes Dialect() const { return m_dialect; }
  uint8_t VersionByte() const;
  int32_t FieldCount() const { return static_cast<int32_t>(m_fields.size()); }
  uint32_t RecordLength() const { return m_recordLength; }
  bool HasMemo() const { return m_hasMemo; }
  // The new table's disk file object after a successful Create, else null.
  TbrDiskFile* File() const { return m_created ? m_file.get() : nullptr; }

 private:
  struct Descriptor {
    uint8_t bytes[32];
  };
  class TempFile;
  bool CheckLayout();
  std::vector<uint8_t> TableImage() const;
  std::vector<uint8_t> MemoImage() const;
  std::string Stem() const;

  std::string m_path;
  TbrDBFTypes m_dialect;
  std::vector<Descriptor> m_fields;
  uint32_t m_recordLength = 1;  // the deletion flag
  bool m_hasMemo = false;
  bool m_oversized = false;  // a length or decimal count above 255 was added
  std::string m_oversizedName;
  bool m_createCalled = false;
  bool m_created = false;
  std::unique_ptr<TbrDiskFile> m_file;
};

}  // namespace qm::dbf
