#include "fuzz/fuzz_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qm::fuzz {
namespace {

struct FolderOwner {
  std::string path;
  FolderOwner() {
    std::string pattern = (fs::temp_directory_path() / "qm-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make the fuzz folder");
    path = pattern;
  }
  ~FolderOwner() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

FolderOwner& Owner() {
  static FolderOwner owner;
  return owner;
}

}  // namespace

const std::string& FreshFolder() {
  const std::string& path = Owner().path;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(path, ignored)) fs::remove_all(entry.path(), ignored);
  return path;
}

std::string WriteFile(const std::string& name, std::string_view bytes) {
  const std::string path = Owner().path + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string CopyCatalogFixture(const std::string& stem) {
  const std::string dir = Owner().path + "/";
  const fs::path fixture(QM_FUZZ_DATA);
  fs::copy_file(fixture / "catalog.dbf", dir + stem + ".DBF", fs::copy_options::overwrite_existing);
  fs::copy_file(fixture / "catalog.dbt", dir + stem + ".DBT", fs::copy_options::overwrite_existing);
  return dir + stem + ".DBF";
}

void SplitInput(const uint8_t* data, size_t size, std::string_view& first, std::string_view& second) {
  first = second = {};
  if (size < 2) return;
  const size_t rest = size - 2;
  const size_t cut = (static_cast<size_t>(data[0]) << 8 | data[1]) % (rest + 1);
  const char* bytes = reinterpret_cast<const char*>(data + 2);
  first = std::string_view(bytes, cut);
  second = std::string_view(bytes + cut, rest - cut);
}

}  // namespace qm::fuzz
