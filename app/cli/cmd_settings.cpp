// quillmart-cli settings: read and write the user's settings store
// (Quillmart.ini), the same one the windows use.
//   settings get SECTION IDENT          prints the value (exit 1 when absent)
//   settings set SECTION IDENT VALUE    VALUE may hold line breaks
//   settings list                       every value as "[Section]" / "ident=value"
#include <QString>

#include <cstdio>

#include "app/core/settings_store.h"
#include "cli_command.h"

namespace qm::cli {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Line breaks are shown as \r and \n (and a backslash as \\), as the store
// keeps them, so every value stays on one line of the listing.
std::string OneLine(const QString& value) {
  QString out = value;
  out.replace(u'\\', QStringLiteral("\\\\")).replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n"));
  return out.toStdString();
}

int Settings(const Args& args) {
  const std::string verb = args.empty() ? std::string() : args[0];
  catalog::SettingsStore store;
  if (verb == "get" && args.size() == 3) {
    if (!store.ValueExists(Q(args[1]), Q(args[2])))
      throw CliError("No value '" + args[2] + "' in section '" + args[1] + "' of " +
                     store.Path().toStdString());
    std::printf("%s\n", store.ReadString(Q(args[1]), Q(args[2]), {}).toStdString().c_str());
    return 0;
  }
  if (verb == "set" && args.size() == 4) {
    store.WriteString(Q(args[1]), Q(args[2]), Q(args[3]));
    return 0;
  }
  if (verb == "list" && args.size() == 1) {
    QString section;
    bool first = true;
    for (const auto& e : store.Entries()) {
      if (first || e.section != section) std::printf("%s[%s]\n", first ? "" : "\n", e.section.toStdString().c_str());
      section = e.section;
      first = false;
      std::printf("%s=%s\n", e.ident.toStdString().c_str(), OneLine(e.value).c_str());
    }
    return 0;
  }
  throw CliError("usage: quillmart-cli settings get SECTION IDENT | set SECTION IDENT VALUE | list");
}

}  // namespace

QM_CLI_COMMAND("settings", "settings get S I | set S I VALUE | list   read or write Quillmart.ini", Settings);

}  // namespace qm::cli
