#pragma once
// Engine errors: every failure inside the table engine travels as a code, a
// subcode naming the failing operation and an optional text (a path, a field
// name or a built message) along one path:
//
//   operation --Check--> object's Error() --(default)--> error hook --> handler
//
// The default handler raises EEngineIoError with the message
//   "Bramble Error <code>, SubCode <subcode>  <text>"
// and stops the process for internal faults (negative subcode). The dataset
// component overrides Error() on its table objects to route reports to its own
// handler instead.
//
// Contract for engine operations: they return a success flag. A report that
// returns (suppressed, or a handler that does not raise) leaves the operation
// returning false / its empty value and the object in its previous state; the
// object's LastCode() then holds the code.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace qm::dbf {

// Codes the engine itself reports. Any other code is an operating-system
// error of a failed file operation, in the numbering of the original platform
// (see disk_file.h, OsErrorCode).
namespace code {
constexpr int32_t kNone = 0;
constexpr int32_t kNoLocking = 1;     // lock requested on a file opened without locking
constexpr int32_t kFileNotFound = 2;  // table or memo file missing
constexpr int32_t kAccessDenied =
    5;  // truncate refused (read-only, or shared and not locked whole)
constexpr int32_t kFileAlreadyOpen = 12;  // create of a file open in this process
constexpr int32_t kSharingViolation = 32;  // open refused: the file is held exclusively elsewhere
constexpr int32_t kLockViolation = 33;    // lock refused (second region, or held by another open)
constexpr int32_t kNoMemory = 203;        // table buffers not obtained
constexpr int32_t kListIndex = 213;       // list index out of range (internal)
constexpr int32_t kShortRead = 221;       // fewer bytes read than asked: stored, never reported
constexpr int32_t kMemoBuffer = 230;      // memo buffer too large, or bad line index
constexpr int32_t kNotATable = 1001;    // version byte not one this engine opens, or damaged layout
constexpr int32_t kRecordRange = 1002;  // record number out of range
constexpr int32_t kFieldNotFound = 1003;  // field name not found
constexpr int32_t kFieldType = 1004;      // type does not fit; invalid date or number text
constexpr int32_t kNotTextMemo = 1005;    // memo block is not a text memo
constexpr int32_t kNumberTooLong = 1011;  // number does not fit its field
}  // namespace code

// Subcodes: which operation failed.
namespace subcode {
constexpr int32_t kValueConversion = -7;
constexpr int32_t kListIndex = -1;
constexpr int32_t kRead = 1101;
constexpr int32_t kWrite = 1102;
constexpr int32_t kSize = 1105;
constexpr int32_t kOpen = 1107;
constexpr int32_t kCreate = 1108;
constexpr int32_t kTruncate = 1109;
constexpr int32_t kFlush = 1111;
constexpr int32_t kLock = 1112;
constexpr int32_t kUnlock = 1114;
constexpr int32_t kHeaderLock = 1201;
constexpr int32_t kTableOpen = 1204;
constexpr int32_t kGoTo = 1207;
constexpr int32_t kDatePut = 1251;
constexpr int32_t kNumberPut = 1261;
constexpr int32_t kFieldLookup = 1298;
constexpr int32_t kFieldType = 1299;
constexpr int32_t kMemoOpen = 6101;
constexpr int32_t kMemoWrite = 6102;  // memo text the memo layout cannot hold
constexpr int32_t kMemoLineInsert = 6103;
constexpr int32_t kMemoBufferSize = 6104;
constexpr int32_t kMemoPastEnd = 6105;     // a memo starts past the end of the memo file
constexpr int32_t kMemoBlockHeader = 6199;
}  // namespace subcode

// The engine's I/O error, raised by the default handler. what() is the exact
// message; the report's parts stay available for callers that sort errors.
class EEngineIoError : public std::runtime_error {
 public:
  EEngineIoError(int32_t code, int32_t subCode, const std::string& message)
      : std::runtime_error(message), m_code(code), m_subCode(subCode) {}
  int32_t Code() const { return m_code; }
  int32_t SubCode() const { return m_subCode; }

 private:
  int32_t m_code;
  int32_t m_subCode;
};

// "Bramble Error <code>, SubCode <subcode>  <text>" (two blanks; text may be null).
std::string BrambleErrorMessage(int32_t code, int32_t subCode, const char* text);

// The end of the path. Code 0: nothing. Negative subcode: FatalStop(code).
// Otherwise throws EEngineIoError with BrambleErrorMessage().
void DefaultErrorHandler(int32_t code, int32_t subCode, const char* text);

// Internal fault (for example a list index out of range): prints
// "Runtime error <code>" on stderr and ends the process with exit status code & 0xFF.
[[noreturn]] void FatalStop(int32_t code);

// The process-wide error hook. text may be null (no text). Installing an empty
// function restores the default handler. Returns the hook that was installed.
using ErrorHook = std::function<void(int32_t code, int32_t subCode, const char* text)>;
ErrorHook SetErrorHook(ErrorHook hook);
void CallErrorHook(int32_t code, int32_t subCode, const char* text);

// Base of every engine object that reports errors (disk file, table, memo
// file). Holds the last code and the error-suppression count.
class TbrErrorReporter {
 public:
  virtual ~TbrErrorReporter() = default;

  // The single exit of every failing operation. Stores code as the last code
  // and, when non-zero, in errno. Returns true only when code is 0. A non-zero
  // code is handed to Error(code, subCode, ErrorText()) unless reports are
  // suppressed; either way the result is false.
  bool Check(int32_t code, int32_t subCode);

  // Overridable error operation; the default calls the process-wide hook.
  // The memo file forwards to its owner table, the dataset to its handler.
  virtual void Error(int32_t code, int32_t subCode, const char* text);

  int32_t LastCode() const { return m_lastCode; }
  void SetLastCode(int32_t code) { m_lastCode = code; }

  // While the count is above 0 no report leaves the object.
  int32_t SuppressionCount() const { return m_suppressCount; }
  void SuppressErrors() { ++m_suppressCount; }
  void AllowErrors() {
    if (m_suppressCount > 0) --m_suppressCount;
  }

 protected:
  // Text of reports made by Check(): the object's file path (null for none).
  virtual const char* ErrorText() const { return nullptr; }
  // Like Check() for a non-zero code, with a built text instead of ErrorText().
  void ReportText(int32_t code, int32_t subCode, const char* text);

  int32_t m_lastCode = 0;
  int32_t m_suppressCount = 0;
};

// Raises the suppression count for one scope.
class TbrSuppressErrors {
 public:
  explicit TbrSuppressErrors(TbrErrorReporter& obj) : m_obj(obj) { m_obj.SuppressErrors(); }
  ~TbrSuppressErrors() { m_obj.AllowErrors(); }
  TbrSuppressErrors(const TbrSuppressErrors&) = delete;
  TbrSuppressErrors& operator=(const TbrSuppressErrors&) = delete;

 private:
  TbrErrorReporter& m_obj;
};

}  // namespace qm::dbf
