#include "dataset/bramble_create.h"

#include <filesystem>

#include "dataset/bramble_dataset.h"
#include "dbf/disk_file.h"

namespace qm::dataset {

bool TCreateBrambleDataSet::CreateTable() {
  if (DBFTable == nullptr) throw EDatabaseError("A table is not assigned");
  if (DBFTable->Active()) throw EDatabaseError("Cannot perform this operation on an open table");
  const std::string path = DBFTable->DatabaseDirectory() + DBFTable->TableName();
  std::error_code ec;
  if (!AutoOverwrite && std::filesystem::exists(dbf::NormalizePath(path), ec)) {
    if (!OnConfirmOverwrite || !OnConfirmOverwrite("Table exists.  Do you want to overwrite?", "Warning"))
      return false;
  }
  std::vector<dbf::TbrFieldDef> defs;
  std::size_t badLine = 0;
  if (CreateFields.empty() || !dbf::ParseFieldList(CreateFields, defs, badLine))
    throw EDatabaseError(dbf::kFieldListInvalid);
  bool created = false;
  try {
    dbf::TbrTableCreator creator(path, DBFType);
    for (const dbf::TbrFieldDef& def : defs) creator.AddField(def.name, def.type, def.length, def.decimals);
    created = creator.Create();
  } catch (const dbf::EEngineIoError& e) {
    throw EDatabaseError(e.what());  // the one error type of the dataset components
  }
  if (created) DBFTable->Open();
  return created;
}

}  // namespace qm::dataset
