#include "dbf/table_creator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <charconv>
#include <cstring>
#include <ctime>
#include <set>

#include "dbf/disk_io.h"
#include "dbf/dbf_format.h"
#include "dbf/memo_bytes.h"
#include "dbf/memo_format.h"
#include "dbf/text_helpers.h"

namespace qm::dbf {

const char* const kFieldListInvalid = "Field list is invalid";

namespace {

constexpr uint32_t kMaxFieldByte = 255;       // length and decimals are one byte each
constexpr uint32_t kMaxRecordLength = 65535;  // header bytes 10..11
constexpr std::size_t kMaxFields = (0xFFFF - 33) / layout::kDescriptorSize;
constexpr std::size_t kMaxNameLength = 10;

// A whole decimal integer with an optional sign and surrounding blanks.
bool ParseInt(std::string_view text, int32_t& value) {
  text = TrimRight(TrimLeft(text));
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

std::string TrimBlanksAndQuotes(const std::string& path) {
  const std::size_t first = path.find_first_not_of(" \"");
  if (first == std::string::npos) return {};
  return path.substr(first, path.find_last_not_of(" \"") - first + 1);
}

}  // namespace

std::string FieldNameProblem(std::string_view name) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (name.empty()) return "a field needs a name";
  if (name.size() > kMaxNameLength) return "a field name has at most 10 characters";
  if (!letter(name.front())) return "a field name starts with a letter A-Z";
  for (char c : name)
    if (!letter(c) && !digit(c) && c != '_')
      return "a field name holds only letters A-Z, digits 0-9 and _";
  return {};
}

bool ParseFieldLine(std::string_view line, TbrFieldDef& def) {
  const std::size_t nameEnd = line.find(';');
  if (nameEnd == std::string_view::npos || nameEnd == 0) return false;
  if (!FieldNameProblem(line.substr(0, nameEnd)).empty()) return false;
  def.name = std::string(line.substr(0, nameEnd));
  std::string_view rest = line.substr(nameEnd + 1);
  if (rest.size() < 2 || rest[1] != ';') return false;
  def.type = rest[0];
  rest.remove_prefix(2);
  const std::size_t lengthEnd = rest.find(';');
  if (lengthEnd == std::string_view::npos || !ParseInt(rest.substr(0, lengthEnd), def.length))
    return false;
  return ParseInt(rest.substr(lengthEnd + 1, 3), def.decimals);
}

bool ParseFieldList(const std::vector<std::string>& lines, std::vector<TbrFieldDef>& defs,
                    std::size_t& badLine) {
  defs.clear();
  badLine = lines.size();
  if (lines.empty()) return false;
  std::set<std::string> names;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    TbrFieldDef def;
    if (!ParseFieldLine(lines[i], def) || !names.insert(UpperAscii(def.name)).second) {
      badLine = i;
      defs.clear();
      return false;
    }
    defs.push_back(def);
  }
  return true;
}

TbrTableCreator::TbrTableCreator(const std::string& path, TbrDBFTypes dialect)
    : m_dialect(dialect) {
  std::string trimmed = TrimBlanksAndQuotes(path);
  const std::size_t slash = trimmed.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string name = UpperAscii(std::string_view(trimmed).substr(nameStart));
  if (name.find('.') == std::string::npos) name += ".DBF";
  m_path = trimmed.substr(0, nameStart) + name;
}

TbrTableCreator::~TbrTableCreator() {
  if (m_createCalled) return;
  // Destroying an unused creator still writes the table, as callers rely on;
  // a destructor cannot pass the error on, the report has been made.
  try {
    Create();
  } catch (const std::exception&) {
  }
}

void TbrTableCreator::AddField(std::string_view name, char type, int32_t length, int32_t decimals) {
  if (name.empty()) return;
  type = UpperAscii(type);
  if (type == 'D') length = 8, decimals = 0;
  if (type == 'L') length = 1, decimals = 0;
  if (type == 'M' || type == 'B' || type == 'G') {
    length = memo::kMemoFieldWidth;
    decimals = 0;
    m_hasMemo = true;
  }
  const std::string upper = UpperAscii(name.substr(0, kMaxNameLength));
  const auto outOfByte = [](int32_t v) {
    return v < 0 || static_cast<uint32_t>(v) > kMaxFieldByte;
  };
  if ((outOfByte(length) || outOfByte(decimals)) && !m_oversized) {
    m_oversized = true;
    m_oversizedName = upper;
  }
  Descriptor d{};
  std::memcpy(d.bytes + layout::kNameOffset, upper.data(), upper.size());
  d.bytes[layout::kTypeOffset] = static_cast<uint8_t>(type);
  d.bytes[layout::kLengthOffset] = static_cast<uint8_t>(length);
  d.bytes[layout::kDecimalsOffset] = static_cast<uint8_t>(decimals);
  m_fields.push_back(d);
  m_recordLength += static_cast<uint32_t>(std::max(length, 0));
}

uint8_t TbrTableCreator::VersionByte() const {
  if (!m_hasMemo) return layout::kVersionPlain;
  switch (m_dialect) {
    case TbrDBFTypes::DBaseIV:
      return layout::kVersionDb4Memo;
    case TbrDBFTypes::FoxPro2:
      return layout::kVersionFoxMemo;
    default:
      return layout::kVersionDb3Memo;
  }
}

std::string TbrTableCreator::MemoPath() const {
  const std::size_t dot = m_path.find_last_of('.');
  const std::size_t slash = m_path.find_last_of('/');
  std::string stem = m_path;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.resize(dot);
  return stem + (m_dialect == TbrDBFTypes::FoxPro2 ? ".FPT" : ".DBT");
}

std::string TbrTableCreator::Stem() const {
  const std::size_t slash = m_path.find_last_of('/');
  std::string name = m_path.substr(slash == std::string::npos ? 0 : slash + 1);
  return name.substr(0, std::min<std::size_t>(name.find('.'), memo::kStemLength));
}

// The header holds lengths in one byte, the record length and header length
// in two: a list beyond that would write a table no reader can walk.
bool TbrTableCreator::CheckLayout() {
  std::string offender;
  if (m_oversized)
    offender = m_oversizedName;
  else if (m_recordLength > kMaxRecordLength || m_fields.size() > kMaxFields)
    offender = reinterpret_cast<const char*>(m_fields.back().bytes);
  if (offender.empty()) return true;
  CallErrorHook(code::kFieldType, subcode::kCreate, offender.c_str());
  return false;
}

// A new file written under a temporary name beside its final one and renamed
// into place, so that a program with the old file open keeps the old file
// (and notices the replacement) instead of seeing it truncated and rewritten.
// Removed again unless committed.
class TbrTableCreator::TempFile {
 public:
  explicit TempFile(const std::string& finalPath) : m_finalPath(finalPath) {}
  ~TempFile() {
    if (!m_path.empty()) Disk().Remove(m_path.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the file (with the old file's permissions when there is one) and
  // writes image; reports a failure through the error hook.
  bool Write(const std::vector<uint8_t>& image) {
    struct stat old {};
    const bool replacing = Disk().StatPath(m_finalPath.c_str(), &old) == 0;
    // Written through the handle the exclusive create gave: nothing planted
    // under the name is followed or written instead.
    const int fd = CreateWorkFile(m_finalPath, 0666, m_path);
    if (fd < 0) {
      const int err = errno;
      m_path.clear();
      CallErrorHook(OsErrorCode(err), subcode::kCreate, m_finalPath.c_str());
      return false;
    }
    if (replacing) Disk().ChangeMode(fd, old.st_mode & 07777);
    const bool ok = AppendAll(fd, image.data(), image.size()) && Disk().Sync(fd) == 0;
    const int err = errno;
    Disk().Close(fd);
    if (!ok) CallErrorHook(OsErrorCode(err), subcode::kWrite, m_finalPath.c_str());
    return ok;
  }

  bool Commit() {
    if (Disk().Rename(m_path.c_str(), m_finalPath.c_str()) != 0) {
      CallErrorHook(OsErrorCode(errno), subcode::kCreate, m_finalPath.c_str());
      return false;
    }
    m_path.clear();
    return true;
  }

 private:
  std::string m_finalPath;
  std::string m_path;
};

bool TbrTableCreator::Create() {
  m_createCalled = true;
  m_created = false;
  if (!CheckLayout()) return false;
  const std::string tablePath = NormalizePath(m_path);
  const std::string memoPath = NormalizePath(MemoPath());
  for (const std::string& path : {tablePath, memoPath}) {
    if ((path == tablePath || m_hasMemo) && TbrDiskFile::OpenInThisProcess(path)) {
      CallErrorHook(code::kFileAlreadyOpen, subcode::kCreate, path.c_str());
      return false;
    }
  }
  // Both files stand complete before either replaces an old one; the table
  // goes first, since a new table never points into an old memo file.
  TempFile table(tablePath);
  TempFile memo(memoPath);
  if (!table.Write(TableImage())) return false;
  if (m_hasMemo && !memo.Write(MemoImage())) return false;
  if (!table.Commit()) return false;
  if (m_hasMemo && !memo.Commit()) return false;
  m_file = std::make_unique<TbrDiskFile>(tablePath, kOpenCreate);
  m_created = m_file->Open();
  return m_created;
}

std::vector<uint8_t> TbrTableCreator::TableImage() const {
  const uint32_t headerLength =
      layout::kHeaderSize + layout::kDescriptorSize * static_cast<uint32_t>(m_fields.size()) + 1;
  std::vector<uint8_t> image(headerLength + 1, 0);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  image[layout::kVersionOffset] = VersionByte();
  image[layout::kDateOffset] = static_cast<uint8_t>(local.tm_year % 100);
  image[layout::kDateOffset + 1] = static_cast<uint8_t>(local.tm_mon + 1);
  image[layout::kDateOffset + 2] = static_cast<uint8_t>(local.tm_mday);
  layout::PutU16(&image[layout::kHeaderLengthOffset], headerLength);
  layout::PutU16(&image[layout::kRecordLengthOffset], m_recordLength);
  for (std::size_t i = 0; i < m_fields.size(); ++i)
    std::memcpy(&image[layout::kHeaderSize + i * layout::kDescriptorSize], m_fields[i].bytes,
                layout::kDescriptorSize);
  image[headerLength - 1] = layout::kFieldTerminator;
  image[headerLength] = layout::kEndOfFile;
  return image;
}

std::vector<uint8_t> TbrTableCreator::MemoImage() const {
  std::vector<uint8_t> image;
  const std::string stem = Stem();
  switch (m_dialect) {
    case TbrDBFTypes::DBaseIV:
      image.assign(memo::kDb4NewHeaderSize, 0);
      layout::PutU32(image.data(), 1);
      std::memcpy(&image[memo::kStemOffset], stem.data(), stem.size());
      image[memo::kDb4MarkOffset] = 2;
      image[memo::kDb4MarkOffset + 1] = 1;
      layout::PutU16(&image[memo::kDb4BlockSizeOffset], memo::kDb3BlockSize);
      break;
    case TbrDBFTypes::FoxPro2:
      image.assign(memo::kFoxNewHeaderSize, 0);
      bytes::PutBe32(image.data(), memo::kFoxNewNextFree);
      bytes::PutBe16(&image[memo::kFoxBlockSizeOffset], memo::kFoxNewBlockSize);
      break;
    default:
      image.assign(memo::kDb3NewFileSize, 0);
      layout::PutU32(image.data(), 1);
      std::memcpy(&image[memo::kStemOffset], stem.data(), stem.size());
      image[memo::kDb3BlockSize] = memo::kDb3Terminator;
  }
  return image;
}

}  // namespace qm::dbf
