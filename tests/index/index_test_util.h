#pragma once
// Helpers shared by the index engine tests.

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace qm::index::test {

// A fresh directory that is the current directory for the helper's lifetime.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
  std::string m_previous;
};

std::string RandomKey(std::mt19937& rng, int length);

// The order the sorter must deliver: keys without trailing blanks, byte order, equal
// keys by record number; descending reverses it; unique keeps a key's first pair.
std::vector<std::pair<std::string, int32_t>> ReferenceSort(
    std::vector<std::pair<std::string, int32_t>> pairs, bool ascending, bool unique);

// Runs a shell command, returns its standard output; fails the test on a non-zero exit.
std::string RunCommand(const std::string& command);

}  // namespace qm::index::test

namespace qm::index {
class TbrNdxTag;
}

namespace qm::index::test {

struct FieldSpec {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

// Writes a dBASE III table without records.
void WriteEmptyTable(const std::string& path, const std::vector<FieldSpec>& fields);

// Every (key, record) pair of a tag from top to bottom, keys as the tree holds them.
std::vector<std::pair<std::string, int32_t>> WalkTag(TbrNdxTag& tag);

// The bytes of a file.
std::string ReadFile(const std::string& path);

}  // namespace qm::index::test

namespace qm::index::test {
// "" when equal, else the first position where two pair lists differ.

std::string FirstDifference(const std::vector<std::pair<std::string, int32_t>>& actual,
                            const std::vector<std::pair<std::string, int32_t>>& expected);
}  // namespace qm::index::test

namespace qm::index::test {
// Every (key, record) pair of each NDX file as Perl XBase walks it, in one run of
// the walker for all files.
std::vector<std::vector<std::pair<std::string, int32_t>>> PerlWalk(
    const std::vector<std::string>& files);
}  // namespace qm::index::test
