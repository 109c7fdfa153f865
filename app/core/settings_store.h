#pragma once
// The per-user settings store "Quillmart.ini".
//
// One INI file in the user's configuration directory ($XDG_CONFIG_HOME, else
// ~/.config): "[Section]" lines followed by "ident=value" lines. Idents keep
// their blanks ("remote address"). Values are text; CR, LF and backslash are
// escaped as \r, \n and \\ so multi-line texts come back exactly as written.
// Integers are decimal text, booleans "0"/"1".
//
// Contract: a command constructs a store, reads or writes what it needs and
// drops it; nothing is cached between commands. Every write replaces the file
// atomically (temporary file, then rename) with mode 0600, because the file
// holds the FTP password; values written before a failing write stay written.
//
// Errors are thrown as SettingsError carrying the store's own message texts:
//   "Failed to get data for '<ident>'"  the file exists but cannot be read
//   "Failed to set data for '<ident>'"  the file cannot be written
//   "Failed to create key <section>"    the section cannot be created (its
//                                       folder cannot be made)

#include <QString>

#include <memory>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm::catalog {

class SettingsError : public std::runtime_error {
 public:
  explicit SettingsError(const std::string& message, std::string storePath = {})
      : std::runtime_error(message), m_storePath(std::move(storePath)) {}
  // The store's file, so a message can name it.
  const std::string& StorePath() const { return m_storePath; }

 private:
  std::string m_storePath;
};

class SettingsStore {
 public:
  // Opens the user's store (the file need not exist yet).
  SettingsStore();
  // Opens the store at an explicit path (tests, tools).
  explicit SettingsStore(const QString& path);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // $XDG_CONFIG_HOME/Quillmart.ini, or ~/.config/Quillmart.ini when unset.
  static QString DefaultPath();
  const QString& Path() const { return m_path; }

  // The value's text when section and ident exist, else `def`.
  QString ReadString(const QString& section, const QString& ident, const QString& def) const;
  // Decimal text, or hexadecimal after "0x"/"0X"; `def` when absent or not a
  // 32-bit number.
  int ReadInteger(const QString& section, const QString& ident, int def) const;
  // ReadInteger(section, ident, def ? 1 : 0) != 0.
  bool ReadBool(const QString& section, const QString& ident, bool def) const;
  bool ValueExists(const QString& section, const QString& ident) const;

  // Creates the section when absent; an empty text is stored, not deleted.
  void WriteString(const QString& section, const QString& ident, const QString& value);
  void WriteInteger(const QString& section, const QString& ident, int value);
  void WriteBool(const QString& section, const QString& ident, bool value);

  // Every section with its values, in file order (for listings).
  struct Entry {
    QString section;
    QString ident;
    QString value;
  };
  std::vector<Entry> Entries() const;

  // Empty while only the user can read the store; else a sentence saying who
  // else can (it holds the FTP password) and how to make it private.
  std::string ExposureWarning() const;

 private:
  struct Data;
  void Load() const;
  void Save(const QString& section, const QString& ident) const;
  [[noreturn]] void Fail(const QString& message) const;

  QString m_path;
  std::unique_ptr<Data> m_data;
};

// Section and ident names of the store; fixed, shared with other programs'
// copies of the store.
namespace settings {
inline constexpr char kCompanyInfo[] = "Company Info";
inline constexpr char kWebPageSetup[] = "Web Page Setup";
inline constexpr char kTableSetup[] = "Table Setup";
inline constexpr char kSiteSetup[] = "Site Setup";
inline constexpr char kStackedPages[] = "Stacked Pages";
inline constexpr char kDatabase[] = "Database";

inline constexpr char kRemoteAddress[] = "remote address";
inline constexpr char kUserName[] = "user name";
inline constexpr char kRemoteDirectory[] = "remote directory";
inline constexpr char kRemotePassword[] = "remote password";
inline constexpr char kStackedText[] = "stacked text";
inline constexpr char kUseStackedPages[] = "usestackedpages";
inline constexpr char kColumns[] = "Columns";
}  // namespace settings

// What each setting of the setup holds, so values typed by hand (the
// command line, a hand-edited store) can be checked before they are stored.
enum class SettingKind {
  kText,           // one line
  kMultiLineText,  // line breaks kept
  kColour,         // a colour name from the colour picker; not checked
  kColumnCount,    // whole number 0..kMaxColumns
  kSwitch,         // "0" or "1"
  kPassword,       // one line, plain text; listings mask it
  kChoice,         // one of the words in SettingInfo::choices
};

struct SettingInfo {
  const char* section;
  const char* ident;
  SettingKind kind;
  int maxLength;            // characters; 0 for no limit
  const char* description;  // what the setup dialog calls it
  const char* choices = nullptr;  // kChoice: the allowed values, separated by '|'
};

// Every setting of the setup, in the setup dialog's order.
const std::vector<SettingInfo>& KnownSettings();
// The setting of that section and ident (exact names), or null.
const SettingInfo* FindSetting(const QString& section, const QString& ident);
// Empty when `value` suits the setting; else what the setting takes, in plain words.
QString SettingValueProblem(const SettingInfo& info, const QString& value);
// "text", "0 or 1", ...: the kind as the listings show it.
QString SettingKindName(SettingKind kind);
// Whether `text` has the shape of a page colour: #RGB, #RRGGBB or one word of
// letters (a colour name). The pages write colours into their markup as they
// stand, so nothing else (a quote, a space, an angle bracket) may get there.
bool HasColourShape(const QString& text);

// Catalog columns hold at most this many fields.
inline constexpr int kMaxColumns = 5;
// Column count used while no setup was ever saved: the key column alone, which
// every product table has, so a first build never fails on a missing field and
// still lists (and links) every product.
inline constexpr int kDefaultColumns = 1;

// Everything Build Local reads, read once at the start of the command.
struct CatalogSettings {
  // "Company Info"
  QString name, address, city, prov, pcode, tel, email;
  // "Web Page Setup"
  QString pageTitle, pageColor, pageFontColor, pageHeading, pageParagraph;
  // "Table Setup"
  QString tableHeadingFontColor, tableHeadingBkColor, tableCellFontColor, tableCellBkColor;
  // "Database": headings of fields 1..5 and the column count (not clamped here)
  std::array<QString, kMaxColumns> fieldHeadings;
  int columns = kDefaultColumns;
  // "Stacked Pages"
  bool useStackedPages = false;

  // Reads every value in the order the build lists them; absent ones take
  // their defaults (empty texts, stacked pages off, kDefaultColumns).
  static CatalogSettings Read(const SettingsStore& store);
  // The column count limited to 0..kMaxColumns.
  int ColumnCount() const;
};

// The FTP site values of section "Site Setup" (empty when absent).
struct SiteSettings {
  QString remoteAddress;
  QString userName;
  QString remoteDirectory;
  QString remotePassword;  // plain text, as other copies of the store expect

  static SiteSettings Read(const SettingsStore& store);
  void Write(SettingsStore& store) const;
};

}  // namespace qm::catalog
