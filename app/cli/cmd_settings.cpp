// quillmart-cli settings: read and write the user's settings store
// (Quillmart.ini), the same one the windows use. Only the settings of the
// setup are accepted, each with a value of its kind, so a typo can never
// quietly make a section or value nothing reads.
#include <QString>
#include <cstdio>
#include <set>

#include "app/core/settings_store.h"
#include "cli_command.h"

namespace qm::cli {

namespace {

constexpr char kMask[] = "********";

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Line breaks are shown as \r and \n (and a backslash as \\), as the store
// keeps them, so every value stays on one line of the listing.
std::string OneLine(const QString& value) {
  QString out = value;
  out.replace(u'\\', QStringLiteral("\\\\"))
      .replace(u'\r', QStringLiteral("\\r"))
      .replace(u'\n', QStringLiteral("\\n"));
  return out.toStdString();
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// The setting named on the command line; UsageError listing the valid names.
const catalog::SettingInfo& KnownSetting(const std::string& section, const std::string& ident) {
  if (const catalog::SettingInfo* info = catalog::FindSetting(Q(section), Q(ident))) return *info;
  std::vector<std::string> sections, idents;
  for (const catalog::SettingInfo& info : catalog::KnownSettings()) {
    if (sections.empty() || sections.back() != info.section) sections.push_back(info.section);
    if (section == info.section) idents.push_back(info.ident);
  }
  if (idents.empty())
    throw UsageError("no settings section \"" + section + "\"; the sections are: " + Joined(sections));
  throw UsageError("no setting \"" + ident + "\" in section " + section +
                   "; its settings are: " + Joined(idents));
}

int Get(const Args& operands) {
  ExpectOperands("settings get", operands, 3, 3);
  const catalog::SettingInfo& info = KnownSetting(operands[1], operands[2]);
  catalog::SettingsStore store;
  if (!store.ValueExists(Q(info.section), Q(info.ident)))
    throw CliError(std::string(info.section) + " " + info.ident + " is not set in " +
                   store.Path().toStdString());
  std::printf("%s\n", store.ReadString(Q(info.section), Q(info.ident), {}).toStdString().c_str());
  return 0;
}

int Set(const Args& operands) {
  ExpectOperands("settings set", operands, 4, 4);
  const catalog::SettingInfo& info = KnownSetting(operands[1], operands[2]);
  const QString value = Q(operands[3]);
  const QString problem = catalog::SettingValueProblem(info, value);
  // The refused value is quoted on one line; a password never reaches the screen.
  const bool secret = info.kind == catalog::SettingKind::kPassword;
  if (!problem.isEmpty()) throw UsageError(problem.toStdString() + ", not \"" + (secret ? kMask : OneLine(value)) + "\"");
  catalog::SettingsStore().WriteString(Q(info.section), Q(info.ident), value);
  return 0;
}

int List(const Args& operands, bool showPassword) {
  ExpectOperands("settings list", operands, 1, 1);
  QString section;
  bool first = true;
  for (const auto& e : catalog::SettingsStore().Entries()) {
    if (first || e.section != section)
      std::printf("%s[%s]\n", first ? "" : "\n", e.section.toStdString().c_str());
    section = e.section;
    first = false;
    const catalog::SettingInfo* info = catalog::FindSetting(e.section, e.ident);
    const bool secret = info && info->kind == catalog::SettingKind::kPassword && !showPassword;
    std::printf("%s=%s\n", e.ident.toStdString().c_str(),
                secret && !e.value.isEmpty() ? kMask : OneLine(e.value).c_str());
  }
  return 0;
}

int Settings(const Args& input) {
  Args args = input;
  const bool showPassword = TakeFlag(args, "--show-password");
  const Args operands = Operands("settings", args);
  const std::string verb = operands.empty() ? std::string() : operands[0];
  if (verb == "get") return Get(operands);
  if (verb == "set") return Set(operands);
  if (verb == "list") return List(operands, showPassword);
  throw UsageError(verb.empty() ? "settings: say get, set or list"
                                : "settings: no action \"" + verb + "\"; say get, set or list");
}

}  // namespace

QM_CLI_COMMAND("settings", "settings get|set|list ...  read or write the settings (Quillmart.ini)", Settings);
QM_CLI_HELP("settings",
            "Actions:\n"
            "  get SECTION IDENT        print a value (exit 1 when it is not set)\n"
            "  set SECTION IDENT VALUE  store a value; VALUE may hold line breaks where the\n"
            "                           setting takes several lines\n"
            "  list                     every stored value as \"[Section]\" and \"ident=value\"\n"
            "\nOptions:\n"
            "  --show-password          list the FTP password instead of ********\n"
            "\nSections and idents are written exactly as listed by \"settings list\" and in\n"
            "docs/settings.md (for example: settings set \"Site Setup\" \"remote address\" ftp.example.net);\n"
            "unknown names and unsuitable values are refused with the valid ones.\n");

}  // namespace qm::cli
