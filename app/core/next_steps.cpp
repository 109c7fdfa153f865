#include "app/core/next_steps.h"

#include <filesystem>
#include <system_error>

#include "app/core/product_table.h"
#include "app/core/stacked_pages.h"

namespace qm::catalog {

namespace {

bool Present(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

}  // namespace

std::string MissingTableStep(FrontEnd front, const std::string& directory) {
  if (Present(ProductTable(directory).TablePath())) return {};
  if (front == FrontEnd::Window)
    return "This folder has no product table yet. Create it in Setup, on the Database Setup tab "
           "(Create New Database), or open the folder that holds it with File > Open Folder.";
  return "next step: create the product table here, for example with "
         "quillmart-cli create CODE:8 NAME:30 PRICE:10 (quillmart-cli help create tells more), "
         "or name the folder that holds it with -C FOLDER";
}

std::string MissingUploadListStep(FrontEnd front, const std::string& directory) {
  const std::filesystem::path folder(directory.empty() ? std::string(".") : directory);
  if (Present((folder / kUploadListName).string())) return {};
  if (front == FrontEnd::Window)
    return "Nothing has been built for upload here yet. Run Build > Build Local first: it writes "
           "upload.txt when stacked pages are switched on (Setup, Stacked Pages tab: Yes).";
  return "next step: run quillmart-cli build first; it writes upload.txt when stacked pages are on "
         "(quillmart-cli settings set \"Stacked Pages\" usestackedpages 1)";
}

}  // namespace qm::catalog
