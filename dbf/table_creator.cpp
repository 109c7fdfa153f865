#include "dbf/table_creator.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <ctime>
#include <set>

#include "dbf/dbf_format.h"
#include "dbf/memo_bytes.h"
#include "dbf/memo_format.h"

namespace qm::dbf {

const char* const kFieldListInvalid = "Field list is invalid";

namespace {

constexpr uint32_t kMaxFieldByte = 255;       // length and decimals are one byte each
constexpr uint32_t kMaxRecordLength = 65535;  // header bytes 10..11
constexpr std::size_t kMaxFields = (0xFFFF - 33) / layout::kDescriptorSize;
constexpr std::size_t kMaxNameLength = 10;

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A whole decimal integer with an optional sign and surrounding blanks.
bool ParseInt(std::string_view text, int32_t& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
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

bool ParseFieldLine(std::string_view line, TbrFieldDef& def) {
  const std::size_t nameEnd = line.find(';');
  if (nameEnd == std::string_view::npos || nameEnd == 0) return false;
  def.name = std::string(line.substr(0, std::min(nameEnd, kMaxNameLength)));
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
    if (!ParseFieldLine(lines[i], def) || !names.insert(AsciiUpper(def.name)).second) {
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
  std::string name = AsciiUpper(std::string_view(trimmed).substr(nameStart));
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
  type = static_cast<char>(std::toupper(static_cast<unsigned char>(type)));
  if (type == 'D') length = 8, decimals = 0;
  if (type == 'L') length = 1, decimals = 0;
  if (type == 'M' || type == 'B' || type == 'G') {
    length = memo::kMemoFieldWidth;
    decimals = 0;
    m_hasMemo = true;
  }
  const std::string upper = AsciiUpper(name.substr(0, kMaxNameLength));
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

bool TbrTableCreator::Create() {
  m_createCalled = true;
  m_created = false;
  if (!CheckLayout()) return false;
  m_file = std::make_unique<TbrDiskFile>(m_path, kOpenCreate);
  if (!m_file->CreateFile() || !WriteTable()) return false;
  m_created = !m_hasMemo || WriteMemoFile();
  return m_created;
}

bool TbrTableCreator::WriteTable() {
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
  return m_file->Write(0, image.data(), static_cast<uint32_t>(image.size()));
}

bool TbrTableCreator::WriteMemoFile() {
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
  TbrDiskFile memoFile(MemoPath(), kOpenCreate);
  const bool ok =
      memoFile.CreateFile() && memoFile.Write(0, image.data(), static_cast<uint32_t>(image.size()));
  memoFile.Close();
  return ok;
}

}  // namespace qm::dbf
