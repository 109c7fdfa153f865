#pragma once
// The product table in one place: its file names, its memo field, its field
// rules, and opening it through the dataset component in order of entry or in
// key order (through CATALOG.NDX, rebuilt when it is missing or does not
// describe the table), and one product per key whoever writes through it. The
// windows, Build Local and quillmart-cli all come here.
//
//   ProductTable products;                       // the working directory's table
//   products.Open(ProductOrder::Key);            // CATALOG.NDX current and selected
//   if (products.FindProduct("A100")) { auto& ds = products.DataSet(); ds.Edit(); ... ds.Post(); }
//
// Failures of the table itself come as the dataset's EDatabaseError (the
// engine's exact messages); breaking the product table's own rules (field
// list, key width, unknown field, value too long) as ProductTableError with a
// message in the user's terms. Single-threaded, like the dataset.

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dataset/bramble_dataset.h"

namespace qm::catalog {

inline constexpr char kProductTableName[] = "catalog.dbf";   // as the program names it
inline constexpr char kProductTableFile[] = "CATALOG.DBF";   // as the table creator writes it
inline constexpr char kProductMemoFile[] = "CATALOG.DBT";
inline constexpr char kProductIndexFile[] = "CATALOG.NDX";
inline constexpr char kProductIndexTag[] = "CATALOG";
inline constexpr char kProductMemoField[] = "SNOTES";
inline constexpr char kProductMemoFieldLine[] = "Snotes;M;10;0";
inline constexpr int kMaxProductFields = 5;   // character fields besides the memo
inline constexpr int kMaxKeyWidth = 100;      // NDX keys stop at 100 bytes
inline constexpr int kMaxFieldWidth = 255;   // the width is one byte of the field descriptor

class ProductTableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The product an edit, delete or recall found is no longer that product once
// its record is locked (another program renamed, deleted or recalled it meanwhile).
class ProductChangedError : public ProductTableError {
 public:
  using ProductTableError::ProductTableError;
};

// A key as it is compared and looked up: trailing blanks are no part of it (the
// table pads the field with them and the index stores them so).
std::string ProductKey(std::string_view text);

enum class ProductOrder {
  Entry,  // physical order, deleted products skipped (the table opened afresh)
  Key     // CATALOG.NDX order: each key once, from the first product that has it
};

enum class IndexRebuild {
  WhenStale,  // only when CATALOG.NDX is missing or does not describe the table
  Always      // reindex: whatever its state
};

struct ProductField {
  std::string name;
  int width = 0;
};

// Throws ProductTableError when the fields break the product table's rules:
// one to five fields, names of 1 to 10 letters, digits or '_' that are unique
// ignoring case and not SNOTES, widths 1 to 255, the first (key) at most 100.
void CheckProductFields(const std::vector<ProductField>& fields);

// Throws ProductTableError when `text` (UTF-8) cannot be stored in the field
// unchanged: a character the table's code page lacks, or, for a character
// field, more characters than its width. Names the field and the problem.
void CheckProductValue(const dataset::TField& field, const std::string& text);

class ProductTable {
 public:
  // `directory` holds the table files; empty: the working directory. Another
  // table name serves tests and tools; the index keeps its name.
  explicit ProductTable(std::string directory = {}, std::string tableName = kProductTableName);
  ~ProductTable();
  ProductTable(const ProductTable&) = delete;
  ProductTable& operator=(const ProductTable&) = delete;

  // Creates an empty product table (fields + SNOTES, dBASE III with memo).
  // An existing table is replaced only with `overwrite`; the old CATALOG.NDX
  // is removed once the new table stands. Throws ProductTableError.
  static void Create(const std::vector<ProductField>& fields, bool overwrite, const std::string& directory = {});

  // Opens the table through the dataset (shared; read-only when asked).
  // Key order makes sure CATALOG.NDX is current first (see EnsureIndex) and
  // selects its tag. Every field then refuses text CheckProductValue refuses
  // (ProductTableError from the field's setter). Reopening closes first.
  //
  // One product per key, whoever writes through this object: a post (the
  // window's, set's) is refused with ProductTableError when another record,
  // deleted or not, holds its key, checked under the header lock that the
  // write keeps until the record is in; and an edit, delete or recall whose
  // record, once locked, no longer holds the key or the deleted state it was
  // found with is refused with ProductChangedError (find it again).
  void Open(ProductOrder order, bool readOnly = false);
  void Close();
  bool IsOpen() const { return m_dataSet.Active(); }
  ProductOrder Order() const { return m_order; }
  dataset::TBrambleDataSet& DataSet() { return m_dataSet; }

  std::string TablePath() const;
  std::string IndexPath() const;
  // True when CATALOG.NDX opens with no mark of a change a killed writer left
  // unfinished and holds the print of the table as it stands (index/ndx_format.h):
  // no program wrote the table since the index was last brought up to date
  // without keeping it so.
  bool IndexIsCurrent() const;
  // Rebuilds CATALOG.NDX over the key field when it is not current (or always),
  // holding the whole table locked so that no other program writes meanwhile,
  // then selects it. Needs an open read-write table.
  void EnsureIndex(IndexRebuild when = IndexRebuild::WhenStale);

  // The product fields (the character fields) and the memo field.
  int ProductFieldCount();
  dataset::TField& KeyField();
  dataset::TField* MemoField();
  // The record (deleted ones included) other than `except` whose key is `key`
  // (as stored: code page 437, no trailing blanks), read from the file itself;
  // 0 when there is none. `deleted` tells its state.
  int32_t KeyHolder(const std::string& key, int32_t except, bool& deleted);
  // Refuses (ProductTableError) a key (as stored) another record holds, naming it.
  void CheckKeyFree(const std::string& key, int32_t except = 0);
  // Moves to the product whose key is exactly `key` (key order); false when
  // there is none. Deleted products are found only while UseDeleted is on.
  bool FindProduct(const std::string& key);
  // Like FindProduct, deleted products included (through the index, then by
  // a search of the whole table: a rebuilt index leaves deleted products out).
  // Leaves UseDeleted on, so that the product found can be recalled; true
  // when found, DataSet().CurrentRecordDeleted() tells whether it is deleted.
  bool FindAnyProduct(const std::string& key);

 private:
  void InstallKeyChecks();
  void ReadKeys();

  // Every record's key as this object last saw the table: read again whenever
  // the table's print differs from the one taken after this object's last scan
  // or write (another program wrote), so a bulk of posts reads the table once.
  struct KeyCache {
    bool valid = false;
    dbf::TbrTableFingerprint print;
    std::vector<std::string> keys;  // by record number - 1
    std::vector<bool> deleted;
    std::unordered_map<std::string, std::vector<int32_t>> holders;
  };

  std::string m_directory;
  std::string m_tableName;
  dataset::TBrambleDataSet m_dataSet;
  ProductOrder m_order = ProductOrder::Entry;
  KeyCache m_keyCache;
};

}  // namespace qm::catalog
