#pragma once
// The NDX index file object: header, block allocation and page transfer. The tree
// logic (cursor, seek, insert, delete) is the tag's (ndx_tag.h); the bottom-up build
// is in ndx_page_builder.h.
//
// Damage is never trusted: a header whose sizes do not fit a 512-byte page, a root
// or child block outside the file, or a key count above the page maximum is reported
// as code 1001 (subcode 1101) naming the file and the block, and the operation fails.

#include <cstdint>
#include <string>

#include <optional>

#include "dbf/disk_file.h"
#include "dbf/table.h"
#include "index/ndx_page.h"

namespace qm::index {

class TbrNdxFile : public dbf::TbrDiskFile {
 public:
  // `owner` receives this file's error reports (the table the index belongs to).
  TbrNdxFile(const std::string& path, uint8_t openMode, dbf::TbrErrorReporter* owner);

  void Error(int32_t code, int32_t subCode, const char* text) override;

  // Opens an existing file and reads its header.
  bool OpenIndex();
  // Creates (or truncates) the file; the header is filled by the build.
  bool CreateIndex();

  bool ReadHeader();
  bool WriteHeader();  // only when marked changed
  void MarkHeaderChanged() { m_headerChanged = true; }

  // A change of several blocks (key maintenance, a rebuild copied over the file)
  // goes between these two: the mark in the header (ndx_format.h) is written on
  // its own before the first block and cleared after the last, so a writer killed
  // part way leaves it set. Nested calls are one change; headers written between
  // keep the mark.
  bool BeginChange();
  bool EndChange();
  // Whether the file carries a mark this object did not set (re-read from disk).
  bool MarkedByAnother();
  // Whether the header read last carried the mark.
  bool ChangeMarked() const { return m_changeMarked; }

  // The print of the table this index was last brought up to date with (see
  // ndx_format.h), as the header read last holds it; none when absent.
  const std::optional<dbf::TbrTableFingerprint>& TablePrint() const { return m_tablePrint; }
  // Writes the print on its own (no other header byte); false when the key
  // expression leaves it no room or the write failed.
  bool WriteTablePrint(const dbf::TbrTableFingerprint& print);
  // Re-reads the stored print from the file (another writer may have changed it).
  std::optional<dbf::TbrTableFingerprint> ReadTablePrint();

  // Reads block `block` into `page`; damage is reported and gives false. A block
  // past the known length re-takes the file length first (another writer's growth).
  bool ReadPage(uint32_t block, TbrNdxPage& page);
  // Takes the block count from the file's current length.
  bool RefreshLength();
  // Writes a page that fits (no split) to its own block.
  bool WritePage(const TbrNdxPage& page);
  uint32_t AllocateBlock() { return m_nextFree++; }
  // Forgets all blocks: the file was truncated for a rebuild.
  void StartOver() { m_nextFree = 0; m_root = 0; }
  uint32_t BlockCount() const { return m_nextFree; }

  // Truncates to the header and one empty root page (zap), with the file locked.
  bool EmptyIndex();

  // The whole index file locked around a write (Part of the table's write path).
  bool LockIndex();
  bool UnlockIndex();

  // Sets the key layout from the key type letter and key length, as for a new file.
  void SetKeyLayout(char typeLetter, int keyLength);

  const TbrNdxGeometry& Geometry() const { return m_geometry; }
  uint32_t Root() const { return m_root; }
  void SetRoot(uint32_t block) { m_root = block; m_headerChanged = true; }
  const std::string& Expression() const { return m_expression; }
  void SetExpression(const std::string& text) {
    m_expression = text;
    m_keyField = -1;
  }
  // The table's field number when the expression is one character field, 0 when
  // it is not, -1 before the table has looked (index_table.cpp).
  int32_t KeyField() const { return m_keyField; }
  void SetKeyField(int32_t n) { m_keyField = n; }
  bool Unique() const { return m_unique; }
  void SetUnique(bool on) { m_unique = on; }
  bool Ascending() const { return m_ascending; }
  void SetAscending(bool on) { m_ascending = on; }
  char KeyType() const { return m_keyType; }  // 'C', 'N' or 'D'
  void SetKeyType(char letter) { m_keyType = letter; }
  // The file name without directory and extension, upper-cased.
  const std::string& TagName() const { return m_tagName; }

  // Reports a damaged block (code 1001) with the reason; returns false.
  bool Damaged(uint32_t block, const std::string& reason);

 private:
  dbf::TbrErrorReporter* m_owner;
  TbrNdxGeometry m_geometry;
  uint32_t m_root = 0;
  uint32_t m_nextFree = 0;
  bool m_headerChanged = false;
  bool m_changing = false;       // this object has the mark set
  bool m_changeMarked = false;   // the header read last had it
  bool m_unique = false;
  bool m_ascending = true;
  char m_keyType = 'C';
  std::string m_expression;
  int32_t m_keyField = -1;
  std::string m_tagName;
  std::optional<dbf::TbrTableFingerprint> m_tablePrint;
};

// Whether the index file at `path` opens with a sound header that carries no mark
// of a change left unfinished (what a writer killed part way leaves). Reports nothing.
bool NdxFileSound(const std::string& path);

}  // namespace qm::index
