#pragma once
// Helpers of the table engine tests: a scratch directory, table files built
// byte by byte (independent of the engine's own creator), and an error hook
// that records reports instead of raising them.

#include <cstdint>
#include <string>
#include <vector>

#include "dbf/errors.h"

namespace qm::dbf::test {

// A fresh directory under /tmp, removed with its contents at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

struct FieldSpec {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

// One record's bytes: the deletion flag, then each value cut or padded to its
// field (C, D, L left-aligned, others right-aligned).
std::string RecordBytes(const std::vector<FieldSpec>& fields,
                        const std::vector<std::string>& values, bool deleted = false);

// A whole table file: header (count as given, or the real one), descriptors,
// 0x0D, the records and 0x1A.
std::string TableBytes(uint8_t version, const std::vector<FieldSpec>& fields,
                       const std::vector<std::string>& records, int32_t headerCount = -1);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// An empty dBASE III memo file (the 512-byte header block and 0x1A).
std::string EmptyDb3Memo();

struct Report {
  int32_t code;
  int32_t subCode;
  std::string text;
};

// Installs a hook that records every report (and raises nothing) while it lives.
class ReportRecorder {
 public:
  ReportRecorder();
  ~ReportRecorder();
  const std::vector<Report>& Reports() const { return m_reports; }
  void Clear() { m_reports.clear(); }

 private:
  std::vector<Report> m_reports;
  ErrorHook m_previous;
};

}  // namespace qm::dbf::test
