#include "app/core/product_table.h"

#include <algorithm>
#include <filesystem>

#include "dataset/bramble_alias.h"
#include "dataset/bramble_create.h"
#include "dataset/bramble_engine.h"
#include "dbf/char_tables.h"
#include "dbf/disk_file.h"
#include "dbf/table_creator.h"
#include "dbf/text_helpers.h"
#include "index/ndx_file.h"

namespace qm::catalog {

namespace fs = std::filesystem;

namespace {

std::string InDirectory(const std::string& directory, const std::string& name) {
  return directory.empty() ? name : (fs::path(directory) / name).string();
}

bool ValidFieldName(const std::string& name) {
  if (name.empty() || name.size() > 10 || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

std::string FieldLine(const ProductField& field) { return field.name + ";C;" + std::to_string(field.width) + ";0"; }

}  // namespace

void CheckProductFields(const std::vector<ProductField>& fields) {
  auto invalid = [](const std::string& why) { return ProductTableError(std::string(dbf::kFieldListInvalid) + ": " + why); };
  if (fields.empty()) throw invalid("the product table needs at least one field (its key)");
  if (fields.size() > static_cast<size_t>(kMaxProductFields))
    throw invalid("the product table holds at most five fields besides the notes, not " +
                  std::to_string(fields.size()));
  for (size_t i = 0; i < fields.size(); ++i) {
    const ProductField& f = fields[i];
    if (!ValidFieldName(f.name))
      throw invalid("field name \"" + f.name + "\" is not usable: 1 to 10 letters, digits or _, starting with a letter");
    if (dbf::SameTextIgnoringCase(f.name, kProductMemoField))
      throw invalid("SNOTES is the name of the notes field; choose another name");
    for (size_t j = 0; j < i; ++j)
      if (dbf::SameTextIgnoringCase(f.name, fields[j].name))
        throw invalid("field name " + f.name + " is given twice");
    if (f.width < 1 || f.width > kMaxFieldWidth)
      throw invalid("field " + f.name + " must be 1 to " + std::to_string(kMaxFieldWidth) +
                    " characters wide, not " + std::to_string(f.width));
    if (i == 0 && f.width > kMaxKeyWidth)
      throw invalid("the key field " + f.name + " can be at most 100 characters wide (" + std::to_string(f.width) +
                    " asked): longer keys cannot be put in the key index");
  }
}

std::string ProductKey(std::string_view text) {
  const size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

void CheckProductValue(const dataset::TField& field, const std::string& text) {
  const std::string stored = dbf::Utf8ToCp437(text);
  if (dbf::Cp437ToUtf8(stored) != text) {
    // The first character that does not come back: the one the code page lacks.
    size_t at = 0;
    while (at < text.size() && dbf::Cp437ToUtf8(dbf::Utf8ToCp437(text.substr(0, at + 1))) == text.substr(0, at + 1)) ++at;
    size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    throw ProductTableError(field.FieldName() + ": the character \"" + text.substr(at, end - at) +
                            "\" cannot be stored in the product table");
  }
  if (field.DataType() == dataset::TFieldType::ftString && stored.size() > static_cast<size_t>(field.Size()))
    throw ProductTableError(field.FieldName() + " holds at most " + std::to_string(field.Size()) +
                            " characters; the value has " + std::to_string(stored.size()));
}

ProductTable::ProductTable(std::string directory, std::string tableName)
    : m_directory(std::move(directory)), m_tableName(std::move(tableName)) {}

ProductTable::~ProductTable() = default;

std::string ProductTable::TablePath() const { return dbf::NormalizePath(InDirectory(m_directory, m_tableName)); }

std::string ProductTable::IndexPath() const { return dbf::NormalizePath(InDirectory(m_directory, kProductIndexFile)); }

void ProductTable::Create(const std::vector<ProductField>& fields, bool overwrite, const std::string& directory) {
  CheckProductFields(fields);
  dataset::TBrambleDataSet table;
  table.SetDatabaseName(directory);
  table.SetTableName(kProductTableName);
  dataset::TCreateBrambleDataSet create;
  create.DBFTable = &table;
  create.AutoOverwrite = overwrite;
  for (const ProductField& f : fields) create.CreateFields.push_back(FieldLine(f));
  create.CreateFields.push_back(kProductMemoFieldLine);
  if (!create.CreateTable())
    throw ProductTableError(std::string(kProductTableName) +
                            " exists; it is replaced only when you agree to lose its products");
  table.Close();
  // The old key index describes records that are gone.
  std::error_code ignored;
  fs::remove(dbf::NormalizePath(InDirectory(directory, kProductIndexFile)), ignored);
}

void ProductTable::Open(ProductOrder order, bool readOnly) {
  Close();
  m_dataSet.SetDatabaseName(m_directory);
  m_dataSet.SetTableName(m_tableName);
  m_dataSet.SetReadOnly(readOnly && order == ProductOrder::Entry);
  m_dataSet.Open();
  m_order = order;
  // Whatever edits the table (grid, memo editor, companion) meets the same checks.
  for (int i = 0; i < m_dataSet.FieldCount(); ++i) {
    m_dataSet.Fields(i).OnValidate = [](dataset::TField& field, const dataset::TFieldValue& value) {
      if (const auto* text = std::get_if<std::string>(&value)) CheckProductValue(field, *text);
    };
  }
  if (!readOnly) InstallKeyChecks();
  if (order == ProductOrder::Key) {
    EnsureIndex();
  } else if (readOnly) {
    m_dataSet.Engine()->SetReadAhead(true);  // a walk in file order reads ahead
  }
}

void ProductTable::Close() {
  m_keyCache = {};
  m_dataSet.Close();
  m_dataSet.SetIndexName("");
}

bool ProductTable::IndexIsCurrent() const {
  dbf::TbrTable table(TablePath(), dbf::kOpenSharedReadOnly);
  index::TbrNdxFile file(IndexPath(), dbf::kOpenSharedReadOnly, nullptr);
  dbf::TbrSuppressErrors quietTable(table), quietIndex(file);
  if (!table.OpenTable() || !file.OpenIndex()) return false;
  // A writer killed part way leaves its change mark in the index (index/ndx_format.h);
  // a program that wrote the table without the index left the print of an older table.
  const dbf::TbrTableFingerprint print = table.Fingerprint();
  return !file.ChangeMarked() && print.Known() && file.TablePrint() == print;
}

void ProductTable::EnsureIndex(IndexRebuild when) {
  if (when == IndexRebuild::Always || !IndexIsCurrent()) {
    index::TbrIndexTable& engine = *m_dataSet.Engine();
    engine.CloseIndexFiles();
    // Another program's record lock means a write is under way: the lock waits for it.
    if (!engine.LockWholeFile()) throw dataset::EDatabaseError("Record is locked by another user");
    dataset::TbrUnlockScope unlock(engine);
    if (when == IndexRebuild::Always || !IndexIsCurrent()) {
      // The whole-file lock keeps record writers out, not an appender that holds only the
      // header lock (another program's): the print read before the build must still be the
      // table's after it, else the index may lack that product and stays unstamped, so the
      // next open in key order builds it again.
      const dbf::TbrTableFingerprint before = engine.Fingerprint();
      m_dataSet.IndexOn(kProductIndexFile, "", KeyField().FieldName(), "", index::kIndexUnique,
                        index::kIndexAscending);
      m_dataSet.IndexFileOpen(kProductIndexFile, kProductIndexTag);
      index::TbrNdxTag* tag = engine.CurrentTag();
      if (tag != nullptr && before.Known() && engine.Fingerprint() == before) engine.StampTablePrint(tag->File());
    }
  }
  m_dataSet.IndexFileOpen(kProductIndexFile, kProductIndexTag);
  m_order = ProductOrder::Key;
  m_dataSet.First();
}

void ProductTable::InstallKeyChecks() {
  index::TbrIndexTable& engine = *m_dataSet.Engine();
  if (engine.FieldCount() < 1) return;
  const uint32_t offset = engine.FieldOffset(1), width = engine.FieldLength(1);
  auto keyOf = [offset, width](const char* image) { return ProductKey(std::string_view(image + offset, width)); };
  auto shown = [](const std::string& key) { return dbf::Cp437ToUtf8(key); };
  m_dataSet.OnRecordLocked = [keyOf, shown](const char* found, const char* locked) {
    const std::string key = keyOf(found);
    if (keyOf(locked) != key)
      throw ProductChangedError("The product " + shown(key) + " was changed by another program meanwhile: its key is now " +
                                shown(keyOf(locked)));
    if ((found[0] == '*') != (locked[0] == '*'))
      throw ProductChangedError("The product " + shown(key) + " was " + (locked[0] == '*' ? "deleted" : "recalled") +
                                " by another program meanwhile");
  };
  m_dataSet.OnBeforeWrite = [this, keyOf](const char* image, const char* original, int32_t recNo) {
    const std::string key = keyOf(image);
    if (original != nullptr && keyOf(original) == key) return;  // an edit that keeps its key
    CheckKeyFree(key, recNo);
  };
  // This object's own write keeps the keys it knows current (under the write's locks still).
  m_dataSet.OnAfterWrite = [this, keyOf](const char* image, int32_t recNo) {
    KeyCache& cache = m_keyCache;
    const auto at = static_cast<size_t>(recNo - 1);
    if (!cache.valid || at > cache.keys.size()) {
      cache.valid = false;
      return;
    }
    if (at == cache.keys.size()) {
      cache.keys.emplace_back();
      cache.deleted.push_back(false);
    } else {
      auto& before = cache.holders[cache.keys[at]];
      before.erase(std::remove(before.begin(), before.end(), recNo), before.end());
    }
    cache.keys[at] = keyOf(image);
    cache.deleted[at] = image[0] == '*';
    auto& holders = cache.holders[cache.keys[at]];
    holders.insert(std::upper_bound(holders.begin(), holders.end(), recNo), recNo);
    cache.print = m_dataSet.Engine()->Fingerprint();
    cache.valid = cache.print.Known();
  };
}

void ProductTable::ReadKeys() {
  index::TbrIndexTable& engine = *m_dataSet.Engine();
  const uint32_t offset = engine.FieldOffset(1), width = engine.FieldLength(1);
  KeyCache fresh;
  fresh.print = engine.Fingerprint();
  const bool read = engine.ScanRecords([&](int32_t recNo, const char* image) {
    fresh.keys.push_back(ProductKey(std::string_view(image + offset, width)));
    fresh.deleted.push_back(image[0] == '*');
    fresh.holders[fresh.keys.back()].push_back(recNo);
    return true;
  });
  if (!read) throw dataset::EDatabaseError(m_dataSet.LastErrorMessage());
  fresh.valid = fresh.print.Known();
  m_keyCache = std::move(fresh);
}

int32_t ProductTable::KeyHolder(const std::string& key, int32_t except, bool& deleted) {
  if (!m_keyCache.valid || m_dataSet.Engine()->Fingerprint() != m_keyCache.print) ReadKeys();
  const auto held = m_keyCache.holders.find(key);
  if (held == m_keyCache.holders.end()) return 0;
  for (int32_t recNo : held->second) {
    if (recNo == except) continue;
    deleted = m_keyCache.deleted[static_cast<size_t>(recNo - 1)];
    return recNo;
  }
  return 0;
}

void ProductTable::CheckKeyFree(const std::string& stored, int32_t except) {
  bool deleted = false;
  if (KeyHolder(stored, except, deleted) == 0) return;
  const std::string shown = dbf::Cp437ToUtf8(stored);
  if (deleted) throw ProductTableError("A deleted product holds the key " + shown + "; recall it or choose another key");
  throw ProductTableError("A product with the key " + shown + " exists already");
}

int ProductTable::ProductFieldCount() {
  int count = 0;
  for (int i = 0; i < m_dataSet.FieldCount(); ++i)
    if (m_dataSet.Fields(i).DataType() == dataset::TFieldType::ftString) ++count;
  return count;
}

dataset::TField& ProductTable::KeyField() {
  if (m_dataSet.FieldCount() == 0) throw ProductTableError(std::string(kProductTableName) + " has no fields");
  return m_dataSet.Fields(0);
}

dataset::TField* ProductTable::MemoField() { return m_dataSet.FindField(kProductMemoField); }

bool ProductTable::FindProduct(const std::string& text) {
  const std::string key = ProductKey(text);
  if (key.empty() || !m_dataSet.Locate(KeyField().FieldName(), key, {})) return false;
  return ProductKey(KeyField().AsString()) == key;
}

bool ProductTable::FindAnyProduct(const std::string& text) {
  const std::string key = ProductKey(text);
  m_dataSet.SetUseDeleted(true);
  if (FindProduct(key)) return true;
  if (key.empty()) return false;
  int32_t fieldNo = KeyField().FieldNo();
  int32_t recNo = 0;
  constexpr int kWholeFieldFromStart = 32 + 2;
  return m_dataSet.SearchRecords(key, fieldNo, kWholeFieldFromStart, recNo) &&
         ProductKey(KeyField().AsString()) == key;
}

}  // namespace qm::catalog
