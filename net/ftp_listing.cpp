#include "net/ftp_listing.h"

#include <cctype>
#include <cstring>
#include <sstream>
#include <vector>

namespace qm::net {

namespace {

struct Word {
  std::string text;
  size_t end;  // where it ends in the line
};

std::vector<Word> Words(const std::string& line) {
  std::vector<Word> words;
  for (size_t i = 0; i < line.size();) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back({line.substr(start, i - start), i});
  }
  return words;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (!std::isdigit(c)) return false;
  return true;
}

bool IsMonth(const std::string& text) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  if (text.size() != 3) return false;
  std::string lower;
  for (unsigned char c : text) lower += static_cast<char>(std::tolower(c));
  for (const char* month : kMonths)
    if (lower == month) return true;
  return false;
}

// The name follows the one blank after the word that ends at `end`; a name
// may itself hold blanks.
std::string NameAfter(const std::string& line, size_t end) {
  return end + 1 < line.size() ? line.substr(end + 1) : std::string();
}

// "-rw-r--r-- 1 owner group 1234 Dec  9 11:00 name" (group optional).
bool ReadUnixLine(const std::string& line, const std::vector<Word>& words, std::string& name, long long& size) {
  if (words.size() < 6 || words[0].text.size() < 10 || words[0].text[0] != '-') return false;
  for (size_t i = 2; i + 2 < words.size(); ++i) {
    if (!IsMonth(words[i].text) || !AllDigits(words[i - 1].text) || !AllDigits(words[i + 1].text)) continue;
    name = NameAfter(line, words[i + 2].end);
    size = std::stoll(words[i - 1].text);
    return !name.empty();
  }
  return false;
}

// "12-09-26  11:00AM       1234 name" (a directory has <DIR> for its size).
bool ReadDosLine(const std::string& line, const std::vector<Word>& words, std::string& name, long long& size) {
  if (words.size() < 4 || words[0].text.size() < 8 || !std::isdigit(static_cast<unsigned char>(words[0].text[0])) ||
      words[0].text[2] != '-' || !AllDigits(words[2].text))
    return false;
  name = NameAfter(line, words[2].end);
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  size = std::stoll(words[2].text);
  return !name.empty();
}

}  // namespace

std::map<std::string, long long> ParseListing(const std::string& listing) {
  std::map<std::string, long long> files;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<Word> words = Words(line);
    std::string name;
    long long size = 0;
    try {
      if (ReadUnixLine(line, words, name, size) || ReadDosLine(line, words, name, size)) files[name] = size;
    } catch (const std::out_of_range&) {
      // a size beyond any file: the line says nothing usable
    }
  }
  return files;
}

}  // namespace qm::net
