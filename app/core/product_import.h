#pragma once
// Products in and out as CSV: the import that appends the rows of a CSV file
// to the product table, and the field texts the dump writes, so that a dump
// imported into an empty copy of its table gives the same field bytes.
//
// Exchange texts: character fields and memos as UTF-8; dates as ISO
// yyyy-mm-dd (blank for no date); numbers and logicals as stored, without the
// blanks around them ("12.50", "T", "?", blank for a blank number).
//
// The import reads a header row naming fields (case-insensitive) and one row
// per record. Every row is checked before anything is appended, so a refused
// file changes nothing; the message names the row, the field and what was
// wrong. Accepted: a UTF-8 byte order mark, CR LF, LF or CR line ends, dates as
// yyyy-mm-dd, yyyymmdd or in the locale's order with a four-digit year.
// Refused: text the table's code page (437) cannot hold (unless
// replaceUnmappable), bytes that are not UTF-8 (unless another encoding is
// named), two-digit years (a century would be guessed).
//
// The table is opened shared with lock-before-write, as the windows open it,
// so several importers and the windows can append at once. Engine failures
// while opening or appending arrive as dbf::EEngineIoError, or as ImportError
// naming the row and how many rows went in before it.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace qm::dbf {
class TbrTable;
}

namespace qm::catalog {

class ImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A character the table's code page cannot hold (see replaceUnmappable).
class ImportUnmappableError : public ImportError {
 public:
  using ImportError::ImportError;
};

// Bytes that are not text in the input's encoding (see ImportOptions::encoding).
class ImportEncodingError : public ImportError {
 public:
  using ImportError::ImportError;
};

enum class ImportEncoding { kUtf8, kLatin1, kCp1252, kCp437 };

// "utf-8", "latin1" (iso-8859-1), "cp1252" (windows-1252), "cp437"; any case.
bool ParseImportEncoding(const std::string& name, ImportEncoding& encoding);

// What a row does whose key a product of the table already has (the key is
// the table's first field, compared without trailing blanks).
enum class ExistingKeys {
  kRefuse,  // the file is refused like any bad row (the default)
  kUpdate,  // the row changes that product: the file's columns, the others kept
  kSkip     // the row is left out
};

struct ImportOptions {
  ImportEncoding encoding = ImportEncoding::kUtf8;
  ExistingKeys existing = ExistingKeys::kRefuse;
  // Store '?' for each character code page 437 cannot hold instead of refusing.
  bool replaceUnmappable = false;
};

struct ImportResult {
  std::string tableName;               // the table's file name as it stands on disk
  std::size_t appended = 0;            // records appended
  std::size_t updated = 0;             // products changed (ExistingKeys::kUpdate)
  std::size_t skipped = 0;             // rows left out (ExistingKeys::kSkip)
  std::size_t replacedCharacters = 0;  // characters stored as '?'
};

// Appends the rows of `csvPath` to the table at `tablePath`. Throws
// ImportError for a file or row that is refused (nothing appended then). Two
// rows with one key are refused, and so is a row whose key the table holds
// unless `existing` says otherwise. The keys are checked and the rows written
// under the table's header lock, which every writer of the table takes to
// append, held for short batches of rows; a batch after another program wrote
// checks its keys again. A write or check that fails part way says which rows
// went in (they come first).
ImportResult ImportProducts(const std::string& csvPath, const std::string& tablePath,
                            const ImportOptions& options);

// Field `n` of the current record as the dump writes it (see above).
std::string ExchangeText(dbf::TbrTable& table, int32_t n);

}  // namespace qm::catalog
