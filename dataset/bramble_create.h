#pragma once
// TCreateBrambleDataSet: writes a new, empty table for a TBrambleDataSet from
// field specification lines ("Snotes;M;10;0": name;type;length;decimals) and
// opens the dataset on it.

#include <functional>
#include <string>
#include <vector>

#include "dbf/table_creator.h"

namespace qm::dataset {

class TBrambleDataSet;

class TCreateBrambleDataSet {
 public:
  bool AutoOverwrite = false;
  std::vector<std::string> CreateFields;
  TBrambleDataSet* DBFTable = nullptr;
  dbf::TbrDBFTypes DBFType = dbf::TbrDBFTypes::DBaseIII;

  // Asked before an existing table is replaced (text, caption); true means OK.
  // Without a handler the table is not replaced.
  std::function<bool(const std::string& text, const std::string& caption)> OnConfirmOverwrite;

  // True when the table was created (and DBFTable opened on it). Raises
  // "A table is not assigned", "Cannot perform this operation on an open
  // table", "Field list is invalid" before anything is written.
  bool CreateTable();
};

}  // namespace qm::dataset
