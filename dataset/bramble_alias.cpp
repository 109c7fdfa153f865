#include "dataset/bramble_alias.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "dbf/text_helpers.h"

namespace qm::dataset {

namespace {

std::mutex& AliasMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::string>& Table() {
  static std::vector<std::string> table;
  return table;
}

bool g_loaded = false;


// Section "Alias" of an INI-style file: "[Alias]" then "name=value" lines.
void LoadFrom(const std::string& directory) {
  std::vector<std::string>& table = Table();
  table.assign(1, kDefaultDirectory);
  std::ifstream in(directory + "/bramble.cfg");
  bool inAlias = false;
  for (std::string line; std::getline(in, line);) {
    line = std::string(dbf::TrimWhitespace(line));
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      inAlias = dbf::SameTextIgnoringCase(dbf::TrimWhitespace(line.substr(1, line.find(']') - 1)), "Alias");
      continue;
    }
    const size_t eq = line.find('=');
    if (!inAlias || eq == std::string::npos || eq == 0) continue;
    const std::string_view text = line;
    table.push_back(dbf::UpperAscii(dbf::TrimWhitespace(text.substr(0, eq))) + "=" +
                    std::string(dbf::TrimWhitespace(text.substr(eq + 1))));
  }
  g_loaded = true;
}

void EnsureLoaded() {
  if (!g_loaded) LoadFrom(UserConfigDirectory());
}

}  // namespace

const std::vector<std::string>& AliasTable() {
  std::lock_guard<std::mutex> lock(AliasMutex());
  EnsureLoaded();
  return Table();
}

void ReloadAliasTable(const std::string& configDirectory) {
  std::lock_guard<std::mutex> lock(AliasMutex());
  LoadFrom(configDirectory.empty() ? UserConfigDirectory() : configDirectory);
}

bool FindAlias(const std::string& name, std::string& value) {
  std::lock_guard<std::mutex> lock(AliasMutex());
  EnsureLoaded();
  const std::string wanted = dbf::UpperAscii(name) + "=";
  const std::vector<std::string>& table = Table();
  for (size_t i = 1; i < table.size(); ++i) {
    if (table[i].compare(0, wanted.size(), wanted) != 0) continue;
    value = table[i].substr(wanted.size());
    return true;
  }
  return false;
}

void AddAlias(const std::string& name, const std::string& value) {
  std::string existing;
  if (FindAlias(name, existing)) return;
  std::lock_guard<std::mutex> lock(AliasMutex());
  Table().push_back(dbf::UpperAscii(name) + "=" + value);
}

std::string UserConfigDirectory() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg != 0) return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

std::string ExecutableDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

std::string DatabaseDirectory(const std::string& databaseName) {
  if (dbf::SameTextIgnoringCase(databaseName, kDefaultDirectory)) return ExecutableDirectory();
  std::string directory = databaseName;
  std::string value;
  if (FindAlias(databaseName, value)) directory = value;
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

}  // namespace qm::dataset
