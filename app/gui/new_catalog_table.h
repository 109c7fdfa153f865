#pragma once
// Create New Database of the setup dialog: the working directory's catalog.dbf
// with up to five character fields, the memo field "Snotes;M;10;0" last, a new
// empty CATALOG.DBT, and no CATALOG.NDX (the product window rebuilds it).
//
// The one place where the windows program makes a product table; the steps:
//   1. the rows become field lines "name;C;width;0" (rows without a name are
//      skipped) and the list is checked — a bad list throws, nothing touched;
//   2. when catalog.dbf exists, `confirmOverwrite` is asked; false ends here
//      with every file of the old table untouched;
//   3. `releaseTable` lets the product window close its open table;
//   4. ProductTable::Create writes the table and its memo file and removes the
//      old key index; the new table is opened once to prove it.

#include <QString>

#include <array>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm::gui {

// One row of the "Database Setup" tab as typed.
struct NewFieldRow {
  QString name;
  QString width;
};

inline constexpr int kNewFieldRows = 5;
inline constexpr char kNewTableCreatedMessage[] = "catalog.dbf has been created";
inline constexpr char kOverwriteQuestion[] = "Table exists.  Do you want to overwrite?";

// A field list the table cannot be made from; what() starts with
// "Field list is invalid" and names the field.
class NewTableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The field specification lines, in row order, the memo line last (blanks
// around a name or width dropped; rows without a name skipped).
std::vector<std::string> NewFieldLines(const std::array<NewFieldRow, kNewFieldRows>& rows);

// Runs the steps above in the current directory. Returns false when the user
// declined to overwrite; throws NewTableError for a bad list and the engine's
// table's error when a file cannot be written.
bool CreateNewCatalogTable(const std::array<NewFieldRow, kNewFieldRows>& rows,
                           const std::function<bool()>& confirmOverwrite,
                           const std::function<void()>& releaseTable);

}  // namespace qm::gui
