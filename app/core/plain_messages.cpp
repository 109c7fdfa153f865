#include "app/core/plain_messages.h"

#include <cstdlib>
#include <filesystem>

#include "app/core/product_import.h"
#include "app/core/settings_store.h"
#include "dbf/char_tables.h"
#include "dbf/errors.h"
#include "net/printable_text.h"

namespace qm::catalog {

namespace {

constexpr char kEngineMark[] = "Bramble Error ";

struct Said {
  std::string plain;   // what went wrong, naming the file or thing
  std::string detail;  // optional words for the brackets, before the engine's report
};

std::string Extension(const std::string& path) {
  return dbf::UpperCase437(std::filesystem::path(path).extension().string());
}

// A missing file, named after what it is to Quillmart.
Said Missing(const std::string& path) {
  const std::filesystem::path p(path);
  // Named as the engine names new files, the way it would stand on disk.
  const std::string name = dbf::UpperCase437(p.filename().string());
  const std::string dir = p.parent_path().string();
  const std::string ext = Extension(path);
  if (name == "CATALOG.DBF") return {"no product table in " + dir, name + " not found"};
  if (ext == ".DBF") return {"no table " + name + " in " + dir, "not found"};
  if (ext == ".NDX") return {"no index " + name + " in " + dir, "not found"};
  if (ext == ".DBT") return {"no memo file " + name + " in " + dir, "not found"};
  return {"file not found: " + path, ""};
}

Said Translate(int32_t code, int32_t subCode, const std::string& text) {
  namespace c = dbf::code;
  const std::string what = text.empty() ? std::string("a table file") : text;
  if (subCode == dbf::subcode::kMemoOpen)
    return {"the memo file of " + what + " cannot be opened", ""};
  if (code == c::kNotTextMemo && subCode == dbf::subcode::kMemoPastEnd)
    return {"the memo file " + what + " is cut short: a product's notes start past its end",
            "clear that product's notes to go on"};
  switch (code) {
    case c::kFileNotFound: return Missing(text);
    case 3: return {"folder not found for " + what, ""};
    case 4: return {"too many open files to open " + what, ""};
    case c::kAccessDenied: return {"no permission to write " + what, "read-only file or folder"};
    case 32: return {what + " is in use by another program", ""};
    case c::kLockViolation: return {what + " is locked by another program", "try again when it is done"};
    case 112: return {"disk full while writing " + what, ""};
    case 1117: return {"input/output error on " + what, ""};
    case c::kNotATable:
      // The index reports its damage with this code too, naming the file and the block.
      if (dbf::UpperCase437(what).find(".NDX") != std::string::npos)
        return {"the index " + what + " is damaged", "quillmart-cli reindex rebuilds it"};
      return {what + " is not a dBASE table, or its header is damaged", ""};
    case c::kRecordRange: return {"record number out of range in " + what, ""};
    case c::kFieldNotFound: return {"no field named " + what, ""};
    case c::kFieldType: return {"a value does not fit its field: " + what, ""};
    case c::kNotTextMemo: return {"a memo of " + what + " is damaged (not a text memo)", ""};
    case c::kNumberTooLong: return {"a number is too long for its field: " + what, ""};
    default: return {"the table engine failed on " + what, ""};
  }
}

// Reads "Bramble Error <code>, SubCode <subcode>  <text>" out of a message.
bool ParseEngineReport(const std::string& message, int32_t& code, int32_t& subCode,
                       std::string& text) {
  const std::size_t at = message.find(kEngineMark);
  if (at == std::string::npos) return false;
  const char* p = message.c_str() + at + sizeof kEngineMark - 1;
  char* end = nullptr;
  code = static_cast<int32_t>(std::strtol(p, &end, 10));
  // The engine writes "SubCode", the dataset (whose errors carry every lock
  // refused while a product is written) "Subcode".
  const std::string rest = end;
  const std::size_t subMark = sizeof ", SubCode " - 1;
  if (end == p || (rest.rfind(", SubCode ", 0) != 0 && rest.rfind(", Subcode ", 0) != 0)) return false;
  p = end + subMark;
  subCode = static_cast<int32_t>(std::strtol(p, &end, 10));
  if (end == p) return false;
  // A report that ends at a bracket was put in plain words already (a message
  // that quotes another's plain words, as a refused rebuild does): left as it is.
  if (at > 0 && *end == ')') return false;
  text = std::string(end);
  text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size()
                                                                  : text.find_first_not_of(' '));
  // A report quoted inside a longer message ends at that message's bracket.
  if (at > 0 && !text.empty() && text.back() == ')') text.pop_back();
  return true;
}

}  // namespace

std::string PlainEngineMessage(int32_t code, int32_t subCode, const std::string& text) {
  const Said said = Translate(code, subCode, text);
  const std::string report =
      std::string(kEngineMark) + std::to_string(code) + ", SubCode " + std::to_string(subCode);
  return said.plain + " (" + (said.detail.empty() ? "" : said.detail + "; ") + report + ")";
}

namespace {

std::string PlainWords(const std::exception& error) {
  const std::string message = error.what();
  if (const auto* engine = dynamic_cast<const dbf::EEngineIoError*>(&error)) {
    int32_t code = 0, subCode = 0;
    std::string text;
    ParseEngineReport(message, code, subCode, text);
    return PlainEngineMessage(engine->Code(), engine->SubCode(), text);
  }
  if (const auto* settings = dynamic_cast<const SettingsError*>(&error)) {
    if (settings->StorePath().empty()) return message;
    const bool reading = message.rfind("Failed to get data", 0) == 0;
    return std::string(reading ? "cannot read" : "cannot write") + " the settings store " +
           settings->StorePath() + " (" + message + ")";
  }
  // An import's message is plain already, the engine's words quoted at its end:
  // translating it again would drop the row and the count of rows appended.
  if (dynamic_cast<const ImportError*>(&error) != nullptr) return message;
  // The windows' own text for a missing table ("Cannot find file <path>") is
  // the engine's file-not-found report on opening the table.
  const std::string cannotFind = "Cannot find file ";
  if (message.rfind(cannotFind, 0) == 0)
    return PlainEngineMessage(dbf::code::kFileNotFound, dbf::subcode::kTableOpen,
                              message.substr(cannotFind.size()));
  int32_t code = 0, subCode = 0;
  std::string text;
  if (ParseEngineReport(message, code, subCode, text)) return PlainEngineMessage(code, subCode, text);
  return message;
}

}  // namespace

std::string PlainMessage(const std::exception& error) {
  // Messages quote names read from files others may have written (a field
  // name of a table header, a name of upload.txt): their control characters
  // are written out, so a hostile file cannot drive the user's terminal.
  return net::PrintableText(PlainWords(error), "\n");
}

std::string CountOf(std::size_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

}  // namespace qm::catalog
