#include "dbf_test_util.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "dbf/dbf_format.h"

namespace qm::dbf::test {

ScratchDir::ScratchDir() {
  char pattern[] = "/tmp/qm-dbf-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string RecordBytes(const std::vector<FieldSpec>& fields,
                        const std::vector<std::string>& values, bool deleted) {
  std::string record(1, deleted ? '*' : ' ');
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string value = i < values.size() ? values[i] : "";
    const auto width = static_cast<size_t>(fields[i].length);
    if (value.size() > width) value.resize(width);
    const bool left = fields[i].type == 'C' || fields[i].type == 'D' || fields[i].type == 'L';
    const std::string pad(width - value.size(), ' ');
    record += left ? value + pad : pad + value;
  }
  return record;
}

std::string TableBytes(uint8_t version, const std::vector<FieldSpec>& fields,
                       const std::vector<std::string>& records, int32_t headerCount) {
  uint32_t recordLength = 1;
  for (const FieldSpec& f : fields) recordLength += static_cast<uint32_t>(f.length);
  std::string bytes(32, '\0');
  auto* header = reinterpret_cast<uint8_t*>(bytes.data());
  header[0] = version;
  header[1] = 26;
  header[2] = 12;
  header[3] = 8;
  layout::PutU32(header + 4, static_cast<uint32_t>(headerCount < 0 ? records.size() : headerCount));
  layout::PutU16(header + 8, static_cast<uint32_t>(32 * fields.size() + 33));
  layout::PutU16(header + 10, recordLength);
  for (const FieldSpec& f : fields) {
    std::string descriptor(32, '\0');
    descriptor.replace(0, std::min<size_t>(f.name.size(), 10), f.name.substr(0, 10));
    descriptor[11] = f.type;
    descriptor[16] = static_cast<char>(f.length);
    descriptor[17] = static_cast<char>(f.decimals);
    bytes += descriptor;
  }
  bytes += '\x0D';
  for (const std::string& record : records) bytes += record;
  bytes += '\x1A';
  return bytes;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string EmptyDb3Memo() {
  std::string bytes(512, '\0');
  bytes[0] = 1;
  bytes += '\x1A';
  return bytes;
}

ReportRecorder::ReportRecorder() {
  m_previous = SetErrorHook([this](int32_t code, int32_t subCode, const char* text) {
    m_reports.push_back({code, subCode, text != nullptr ? text : ""});
  });
}

ReportRecorder::~ReportRecorder() { SetErrorHook(m_previous); }

}  // namespace qm::dbf::test
