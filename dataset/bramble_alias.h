#pragma once
// The dataset component's alias table and database directory.
//
// One alias table per process: its first entry is "Default Directory"; then
// every name=value pair of section "Alias" of "bramble.cfg" in the user's
// configuration directory ($XDG_CONFIG_HOME, else ~/.config) follows, loaded
// on first use. Names are matched in upper case; values are directories and
// keep their letter case (file names are case-sensitive here).

#include <string>
#include <vector>

namespace qm::dataset {

inline constexpr char kDefaultDirectory[] = "Default Directory";

// The entries: "Default Directory", then "NAME=value" lines.
const std::vector<std::string>& AliasTable();
// Reads the table again from `configDirectory` (empty: the user's configuration directory).
void ReloadAliasTable(const std::string& configDirectory = {});
// Adds "NAME=value" unless an entry of that name exists.
void AddAlias(const std::string& name, const std::string& value);
// The value of the alias `name` (matched in upper case); false when absent.
bool FindAlias(const std::string& name, std::string& value);

std::string UserConfigDirectory();
std::string ExecutableDirectory();  // with a trailing '/'

// "Default Directory" in any letter case: the executable's directory; an alias:
// its value; else the name itself; a non-empty result ends in '/'. Empty
// gives empty (names relative to the current directory).
std::string DatabaseDirectory(const std::string& databaseName);

}  // namespace qm::dataset
