#include "cli_help.h"

#include <algorithm>
#include <sstream>

namespace qm::cli {

namespace {

// Summaries start in one column; a synopsis wider than this gets its summary
// on the next line instead of pushing every other one to the right.
constexpr std::size_t kSummaryColumn = 40;

constexpr char kAbout[] =
    "The headless companion of Quillmart: keeps the product table (CATALOG.DBF, its memo\n"
    "file CATALOG.DBT and key index CATALOG.NDX) and builds and publishes the web catalog,\n"
    "working in the current folder like the windows program.\n";

constexpr char kGlobalOptions[] =
    "  -C, --directory=DIR  work in DIR instead of the current folder\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n";

constexpr char kExitStatus[] = "Exit status: 0 success, 1 failure, 2 wrong command line.\n";

constexpr char kFilesText[] =
    "CATALOG.DBF, CATALOG.DBT, CATALOG.NDX  the product table, its memos and key index\n"
    "catalog.htm, KEY.htm, upload.txt       the pages and upload list that build writes\n"
    "$XDG_CONFIG_HOME/Quillmart.ini         the settings (~/.config/Quillmart.ini)\n";

struct Usage {
  std::string synopsis;
  std::string summary;
};

Usage SplitUsage(const char* usage) {
  const std::string text = usage;
  const std::size_t gap = text.find("  ");
  if (gap == std::string::npos) return {text, {}};
  const std::size_t start = text.find_first_not_of(' ', gap);
  return {text.substr(0, gap), start == std::string::npos ? std::string() : text.substr(start)};
}

std::string Capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

std::string CommandList() {
  std::string out;
  for (const CommandInfo& c : Commands()) {
    const Usage u = SplitUsage(c.usage);
    std::string line = "  " + u.synopsis;
    if (line.size() + 2 > kSummaryColumn)
      line += "\n" + std::string(kSummaryColumn, ' ');
    else
      line += std::string(kSummaryColumn - line.size(), ' ');
    out += line + u.summary + "\n";
  }
  return out;
}

// roff text: backslashes and dashes escaped, no line may start with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    lineStart = c == '\n';
  }
  return out;
}

}  // namespace

std::string VersionText() { return std::string(kProgramName) + " (Quillmart) " QM_VERSION "\n"; }

std::string ProgramHelp() {
  return std::string("Usage: ") + kProgramName + " [OPTION]... COMMAND [ARG]...\n" + kAbout + "\nOptions:\n" +
         kGlobalOptions + "\nCommands:\n" + CommandList() + "\n\"" + kProgramName + " help COMMAND\" or \"" +
         kProgramName + " COMMAND --help\" shows a command's options.\n" + kExitStatus;
}

std::string CommandHelpText(const CommandInfo& command) {
  const Usage u = SplitUsage(command.usage);
  std::string out =
      std::string("Usage: ") + kProgramName + " " + u.synopsis + "\n" + Capitalised(u.summary) + ".\n";
  const std::string details = CommandHelp(command.name);
  if (!details.empty()) out += "\n" + details;
  out += std::string("\nCommon options:\n") + kGlobalOptions + "\n" + kExitStatus;
  return out;
}

std::string ManPage() {
  std::ostringstream man;
  man << ".TH QUILLMART-CLI 1 \"\" \"Quillmart " QM_VERSION "\" \"User Commands\"\n"
      << ".SH NAME\nquillmart\\-cli \\- keep the Quillmart product table and build its web catalog\n"
      << ".SH SYNOPSIS\n.B quillmart\\-cli\n[\\fIOPTION\\fR]... \\fICOMMAND\\fR [\\fIARG\\fR]...\n"
      << ".SH DESCRIPTION\n"
      << Roff(kAbout) << ".SH OPTIONS\n.nf\n"
      << Roff(kGlobalOptions) << ".fi\n.SH COMMANDS\n";
  for (const CommandInfo& c : Commands()) {
    const Usage u = SplitUsage(c.usage);
    man << ".TP\n.B " << Roff(u.synopsis) << "\n" << Roff(Capitalised(u.summary)) << ".\n";
    const std::string details = CommandHelp(c.name);
    if (!details.empty()) man << ".sp\n.RS\n.nf\n" << Roff(details) << ".fi\n.RE\n";
  }
  man << ".SH FILES\n.nf\n"
      << Roff(kFilesText) << ".fi\n.SH EXIT STATUS\n"
      << Roff(kExitStatus) << ".SH SEE ALSO\n.BR quillmart (1)\n";
  return man.str();
}

}  // namespace qm::cli
