#include "index_test_util.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace qm::index::test {

TempDir::TempDir() {
  char buffer[] = "/tmp/qm-index-XXXXXX";
  m_path = ::mkdtemp(buffer);
  m_previous = std::filesystem::current_path();
  std::filesystem::current_path(m_path);
}

TempDir::~TempDir() {
  std::filesystem::current_path(m_previous);
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string RandomKey(std::mt19937& rng, int length) {
  std::string key;
  for (int i = 0; i < length; ++i) key += static_cast<char>('A' + rng() % 26);
  return key;
}

std::vector<std::pair<std::string, int32_t>> ReferenceSort(
    std::vector<std::pair<std::string, int32_t>> pairs, bool ascending, bool unique) {
  for (auto& pair : pairs) {
    while (!pair.first.empty() && pair.first.back() == ' ') pair.first.pop_back();
  }
  if (unique) {
    std::set<std::string> seen;
    std::vector<std::pair<std::string, int32_t>> first;
    for (const auto& pair : pairs) {
      if (seen.insert(pair.first).second) first.push_back(pair);
    }
    pairs = first;
  }
  std::sort(pairs.begin(), pairs.end());
  if (!ascending) std::reverse(pairs.begin(), pairs.end());
  return pairs;
}

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return output;
  }
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  int status = ::pclose(pipe);
  EXPECT_EQ(status, 0) << command << "\n" << output;
  return output;
}

}  // namespace qm::index::test

#include <fstream>
#include <sstream>

#include "dbf/table.h"
#include "index/ndx_tag.h"

namespace qm::index::test {

void WriteEmptyTable(const std::string& path, const std::vector<FieldSpec>& fields) {
  std::string header(32, '\0');
  int recordLength = 1;
  for (const FieldSpec& f : fields) recordLength += f.length;
  int headerLength = 32 + 32 * static_cast<int>(fields.size()) + 1;
  header[0] = 0x03;
  header[1] = 126;
  header[2] = 1;
  header[3] = 1;
  header[8] = static_cast<char>(headerLength & 0xFF);
  header[9] = static_cast<char>(headerLength >> 8);
  header[10] = static_cast<char>(recordLength & 0xFF);
  header[11] = static_cast<char>(recordLength >> 8);
  for (const FieldSpec& f : fields) {
    std::string d(32, '\0');
    d.replace(0, f.name.size(), f.name);
    d[11] = f.type;
    d[16] = static_cast<char>(f.length);
    d[17] = static_cast<char>(f.decimals);
    header += d;
  }
  header += '\r';
  header += '\x1A';
  std::ofstream(path, std::ios::binary) << header;
}

std::vector<std::pair<std::string, int32_t>> WalkTag(TbrNdxTag& tag) {
  std::vector<std::pair<std::string, int32_t>> pairs;
  for (int32_t r = tag.Move(dbf::kGoTop); r != 0; r = tag.Move(dbf::kGoNext))
    pairs.emplace_back(tag.Key(), r);
  return pairs;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

}  // namespace qm::index::test

namespace qm::index::test {

std::string FirstDifference(const std::vector<std::pair<std::string, int32_t>>& actual,
                            const std::vector<std::pair<std::string, int32_t>>& expected) {
  auto show = [](const auto& list, size_t i) {
    return i < list.size() ? list[i].first + "/" + std::to_string(list[i].second) : "(end)";
  };
  for (size_t i = 0; i < std::max(actual.size(), expected.size()); ++i) {
    if (i >= actual.size() || i >= expected.size() || actual[i] != expected[i])
      return "at " + std::to_string(i) + ": " + show(actual, i) + " expected " + show(expected, i) +
             " (sizes " + std::to_string(actual.size()) + ", " + std::to_string(expected.size()) + ")";
  }
  return {};
}

}  // namespace qm::index::test

namespace qm::index::test {

std::vector<std::vector<std::pair<std::string, int32_t>>> PerlWalk(
    const std::vector<std::string>& files) {
  std::string command = "/usr/bin/perl " QM_TEST_DATA "/index/walk_ndx.pl";
  for (const std::string& file : files) command += " '" + file + "'";
  std::istringstream lines(RunCommand(command));
  std::vector<std::vector<std::pair<std::string, int32_t>>> walks(files.size() == 1 ? 1 : 0);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("==> ", 0) == 0) {
      walks.emplace_back();
      continue;
    }
    size_t tab = line.rfind('\t');  // keys may hold tabs themselves
    if (walks.empty() || tab == std::string::npos) {
      ADD_FAILURE() << "unexpected walker output: " << line;
      break;
    }
    walks.back().emplace_back(line.substr(0, tab), std::stoi(line.substr(tab + 1)));
  }
  walks.resize(files.size());
  return walks;
}

}  // namespace qm::index::test
