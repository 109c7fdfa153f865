// Damages the free-space words of the catalog's memo file, then changes one
// product's notes the way `set` does and imports two products the way
// `import` does. Every memo that read back before must read back the same
// afterwards (the edited product's aside), whether each command went through
// or refused; a difference aborts, so libFuzzer keeps the input.
//
// Input: byte 0 picks the layout (even: the dBASE III fixture; odd: the same
// products in a dBASE IV memo file with a free chain), byte 1 the product and
// the length of its new notes, then up to eight 5-byte changes (kind, LE u32):
//   dBASE III  next free block; cut the file short; an unpadded or garbage tail
//   dBASE IV   next free block; head of the free chain; a run's link; a run's count
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "app/core/product_import.h"
#include "app/core/product_table.h"
#include "dbf/dbf_format.h"
#include "dbf/table.h"
#include "fuzz/engine_errors.h"
#include "fuzz/fuzz_files.h"

using namespace qm;

namespace {

constexpr uint32_t kBlock = 512;
const char* const kKeys[] = {"A100", "B200", "C300", "D400"};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint8_t* Bytes(std::string& s, size_t at) { return reinterpret_cast<uint8_t*>(s.data() + at); }

// The fixture's products in a dBASE IV table: each memo behind a block header,
// a free run of two blocks after each, all runs chained from the header.
void MakeDb4(std::string& table, std::string& memo) {
  table = ReadAll(std::string(QM_FUZZ_DATA) + "/catalog.dbf");
  const std::string db3 = ReadAll(std::string(QM_FUZZ_DATA) + "/catalog.dbt");
  table[0] = static_cast<char>(dbf::layout::kVersionDb4Memo);
  const uint32_t headerLength = dbf::layout::GetU16(Bytes(table, 8));
  const uint32_t recordLength = dbf::layout::GetU16(Bytes(table, 10));
  const uint32_t records = dbf::layout::GetU32(Bytes(table, 4));
  const uint32_t memoOffset = recordLength - 10;  // SNOTES, the last field
  memo.assign(kBlock, '\0');
  memo[18] = 2;
  memo[19] = 1;
  dbf::layout::PutU32(Bytes(memo, 20), kBlock);
  uint32_t previousRun = 0;
  for (uint32_t r = 0; r < records; ++r) {
    char* field = table.data() + headerLength + r * recordLength + memoOffset;
    const uint32_t at = static_cast<uint32_t>(std::atoi(std::string(field, 10).c_str()));
    std::string text;
    if (at != 0 && at * kBlock < db3.size()) text = db3.substr(at * kBlock, db3.find('\x1A', at * kBlock) - at * kBlock);
    if (text.empty()) continue;
    const uint32_t block = static_cast<uint32_t>(memo.size() / kBlock);
    std::string image(8, '\0');
    image[0] = image[1] = '\xFF';
    image[2] = 8;
    dbf::layout::PutU32(Bytes(image, 4), static_cast<uint32_t>(text.size() + 8));
    image += text;
    image.resize((image.size() / kBlock + 1) * kBlock, '\0');
    memo += image;
    const std::string number = std::to_string(block);
    std::string(10 - number.size(), ' ').append(number).copy(field, 10);
    const uint32_t run = static_cast<uint32_t>(memo.size() / kBlock);
    memo.append(2 * kBlock, '\0');
    dbf::layout::PutU32(Bytes(memo, run * kBlock + 4), 2);
    dbf::layout::PutU32(Bytes(memo, previousRun == 0 ? 24 : previousRun * kBlock), run);
    previousRun = run;
  }
  dbf::layout::PutU32(Bytes(memo, 0), static_cast<uint32_t>(memo.size() / kBlock));
}

void Damage(std::string& memo, bool db4, const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 5 <= size && i < 40; i += 5) {
    const uint8_t kind = data[i];
    const uint32_t value = dbf::layout::GetU32(data + i + 1);
    const uint32_t blocks = static_cast<uint32_t>(memo.size() / kBlock);
    if (!db4) {
      if (kind % 3 == 0) dbf::layout::PutU32(Bytes(memo, 0), value);
      else if (kind % 3 == 1) memo.resize(kBlock + value % (memo.size() + 1 - kBlock));
      else memo.append(value % 700, static_cast<char>(kind));
    } else if (kind % 4 < 2) {
      dbf::layout::PutU32(Bytes(memo, kind % 4 == 0 ? 0 : 24), value);
    } else if (blocks > 1) {
      const uint32_t block = 1 + (kind >> 2) % (blocks - 1);
      dbf::layout::PutU32(Bytes(memo, block * kBlock + (kind % 4 == 2 ? 0 : 4)), value);
    }
  }
}

// Whether the memo of `length` text bytes at block ends inside the file where
// its layout says (a terminator, or the length its block header gives). One
// whose end is missing reads up to the end of the file, so anything appended
// becomes part of it: it is damaged, not readable.
bool EndsInsideFile(const std::string& memo, bool db4, int32_t block, size_t length) {
  const size_t at = static_cast<size_t>(block) * kBlock;
  if (block == 0) return true;
  if (!db4) return at + length < memo.size() && memo[at + length] == '\x1A';
  return at + 8 <= memo.size() && dbf::layout::GetU32(reinterpret_cast<const uint8_t*>(memo.data() + at + 4)) == length + 8 &&
         at + 8 + length <= memo.size();
}

// Record number -> memo text, for every memo that reads without an error and
// ends inside the file.
std::map<int32_t, std::string> ReadableMemos(const std::string& path, const std::string& memoPath, bool db4) {
  std::map<int32_t, std::string> memos;
  const std::string memo = ReadAll(memoPath);
  try {
    dbf::TbrTable table(path, dbf::kOpenSharedReadOnly);
    if (!table.Usable() || !table.OpenTable()) return memos;
    const int32_t field = table.FieldCount();
    for (int32_t r = 1; r <= table.RecordCount(); ++r) {
      try {
        if (!table.GoTo(r)) continue;
        const std::string text = table.MemoText(field);
        if (EndsInsideFile(memo, db4, table.MemoBlock(field), text.size())) memos[r] = text;
      } catch (const dbf::EEngineIoError&) {
        // Damaged: not readable before, nothing to keep.
      }
    }
  } catch (const dbf::EEngineIoError&) {
  }
  return memos;
}

void Expect(bool held, const char* what) {
  if (held) return;
  std::fprintf(stderr, "memo free-space fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::RaiseEngineErrors();
  const std::string& dir = fuzz::FreshFolder();
  const bool db4 = data[0] % 2 == 1;
  std::string table, memo;
  if (db4) {
    MakeDb4(table, memo);
  } else {
    table = ReadAll(std::string(QM_FUZZ_DATA) + "/catalog.dbf");
    memo = ReadAll(std::string(QM_FUZZ_DATA) + "/catalog.dbt");
  }
  Damage(memo, db4, data + 2, size - 2);
  const std::string path = fuzz::WriteFile("CATALOG.DBF", table);
  fuzz::WriteFile("CATALOG.DBT", memo);
  const std::map<int32_t, std::string> before = ReadableMemos(path, dir + "/CATALOG.DBT", db4);
  const size_t sizeBefore = memo.size();

  const int32_t edited = 1 + data[1] % 4;
  const std::string notes((data[1] >> 2) * 23 % 1400 + 1, static_cast<char>('a' + data[1] % 26));
  bool changed = false;
  try {
    catalog::ProductTable products(dir);
    products.Open(catalog::ProductOrder::Key);
    if (products.FindProduct(kKeys[edited - 1])) {
      products.DataSet().Edit();
      products.MemoField()->SetAsString(notes);
      products.DataSet().Post();
      changed = true;
    }
  } catch (const std::exception& e) {
    // Refused: checked below like a command that went through.
    if (std::getenv("QM_FUZZ_TRACE") != nullptr) std::fprintf(stderr, "set: %s\n", e.what());
  }
  const std::string imported(notes.size() / 2 + 600, 'i');
  bool importedOk = false;
  try {
    fuzz::WriteFile("in.csv", "CODE,NAME,PRICE,SNOTES\nN1,New,1.00," + imported + "\nN2,Two,2.00,short\n");
    catalog::ImportProducts(dir + "/in.csv", path, catalog::ImportOptions());
    importedOk = true;
  } catch (const std::exception& e) {
    if (std::getenv("QM_FUZZ_TRACE") != nullptr) std::fprintf(stderr, "import: %s\n", e.what());
  }

  const std::map<int32_t, std::string> after = ReadableMemos(path, dir + "/CATALOG.DBT", db4);
  if (std::getenv("QM_FUZZ_TRACE") != nullptr)
    std::fprintf(stderr, "%s: %zu memos read before, set %s, import %s\n", db4 ? "dBASE IV" : "dBASE III",
                 before.size(), changed ? "done" : "refused", importedOk ? "done" : "refused");
  // What the two commands write takes a few blocks; never a gap of any size.
  Expect(ReadAll(dir + "/CATALOG.DBT").size() <= sizeBefore + 16 * kBlock, "the memo file grew past what was written");
  for (const auto& [record, text] : before) {
    const auto now = after.find(record);
    Expect(now != after.end(), "a memo that read before no longer reads");
    if (record == edited && changed) Expect(now->second == notes, "the edited notes read back wrong");
    else Expect(now->second == text, "a memo that read before changed");
  }
  if (changed) {
    const auto now = after.find(edited);
    Expect(now != after.end() && now->second == notes, "the edited notes do not read back");
  }
  if (importedOk) {
    bool found = false;
    for (const auto& [record, text] : after) found = found || text == imported;
    Expect(found, "the imported notes do not read back");
  }
  return 0;
}
