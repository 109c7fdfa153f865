// quillmart-cli: the headless companion of the Quillmart windows program.
//
// main owns what every command shares: the program's options (-C, --help,
// --version, which also work after the command name), "help [COMMAND]", and
// the one place where failures become a line on stderr and an exit status.
#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/core/locale_dates.h"
#include "app/core/next_steps.h"
#include "app/core/plain_messages.h"
#include "app/core/settings_store.h"
#include "cli_command.h"
#include "cli_help.h"
#include "dbf/disk_file.h"

namespace qm::cli {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void Print(std::FILE* out, const std::string& text) { std::fputs(text.c_str(), out); }

// Help and version texts go to stdout and end the program successfully.
int Show(const std::string& text) {
  Print(stdout, text);
  return 0;
}

int Fail(const std::string& text, const std::string& nextStep) {
  std::fflush(stdout);
  Print(stderr, std::string(kProgramName) + ": " + text + "\n");
  if (!nextStep.empty()) Print(stderr, std::string(kProgramName) + ": " + nextStep + "\n");
  return kExitFailure;
}

// Whether `dump` or `reindex` was given a table of the user's own (dump
// NOTES.DBF): its failure says nothing about the catalog's product table.
bool NamesAnotherTable(const std::string& command, const Args& args) {
  size_t i = 0;
  while (i < args.size() && args[i] != command) ++i;  // past the global options (-C FOLDER)
  for (++i; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--index") {
      ++i;  // its value names an index, not a table
      continue;
    }
    if (word.empty() || word[0] == '-') continue;
    std::string name = std::filesystem::path(word).filename().string();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name != "catalog.dbf" && name != "catalog";
  }
  return false;
}

// For a command that failed in a folder lacking the file it works on: what to do first.
std::string NextStepAfterFailure(const std::string& command, const Args& args) {
  if (command == "upload") return catalog::MissingUploadListStep(catalog::FrontEnd::CommandLine);
  if ((command == "dump" || command == "reindex") && NamesAnotherTable(command, args)) return {};
  for (const char* user : {"import", "dump", "reindex", "set", "delete", "recall", "build"})
    if (command == user) return catalog::MissingTableStep(catalog::FrontEnd::CommandLine);
  return {};
}

int UsageFailure(const std::string& text, const std::string& command) {
  std::fflush(stdout);
  const std::string helpCall = std::string(kProgramName) + (command.empty() ? "" : " " + command);
  Print(stderr, std::string(kProgramName) + ": " + text + "\nTry '" + helpCall +
                    " --help' for more information.\n");
  return kExitUsage;
}

// What the program's options asked for, wherever they stood.
struct ProgramOptions {
  std::string directory;
  bool help = false;
  bool version = false;
};

// Takes -h/--help, -V/--version and -C DIR/--directory DIR from `args` (up to
// "--"); with `leadingOnly` it stops at the first word that is no option (the
// command name).
void TakeProgramOptions(Args& args, ProgramOptions& options, bool leadingOnly) {
  for (std::size_t i = 0; i < args.size();) {
    const std::string word = args[i];
    if (word == "--" && leadingOnly) args.erase(args.begin() + static_cast<long>(i));
    if (word == "--") break;
    if (word == "-h" || word == "--help") options.help = true;
    else if (word == "-V" || word == "--version") options.version = true;
    else if (word == "-C" || word == "--directory") {
      if (i + 1 == args.size()) throw UsageError("option " + word + " needs a folder");
      options.directory = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i));
    } else if (word.rfind("--directory=", 0) == 0) options.directory = word.substr(12);
    else if (word.size() > 2 && word.rfind("-C", 0) == 0) options.directory = word.substr(2);
    else if (leadingOnly && word.size() > 1 && word[0] == '-') throw UsageError("unknown option " + word);
    else if (leadingOnly) break;
    else {
      ++i;
      continue;
    }
    args.erase(args.begin() + static_cast<long>(i));
  }
}

int ShowHelp(const Args& operands) {
  if (operands.empty()) return Show(ProgramHelp());
  if (operands.size() == 1 && operands[0] == "--man") return Show(ManPage());
  if (operands.size() > 1) throw UsageError("help takes one command name");
  const CommandInfo* command = FindCommand(operands[0]);
  if (command == nullptr) throw UsageError("no command named \"" + operands[0] + "\"");
  return Show(CommandHelpText(*command));
}

// The settings store holds the FTP password: say so when others can read it.
void WarnAboutExposedSettings(const std::string& command) {
  if (command != "settings" && command != "build" && command != "upload") return;
  const std::string warning = catalog::SettingsStore().ExposureWarning();
  if (!warning.empty()) Print(stderr, std::string(kProgramName) + ": warning: " + warning + "\n");
}

// `running` receives the command's name once it runs in its folder.
int Dispatch(Args args, std::string& running) {
  ProgramOptions options;
  TakeProgramOptions(args, options, true);
  if (options.help) return Show(ProgramHelp());
  if (options.version) return Show(VersionText());
  if (args.empty()) throw UsageError("no command given");
  const std::string name = args.front();
  args.erase(args.begin());
  const CommandInfo* command = FindCommand(name);
  if (name != "help" && command == nullptr) throw UsageError("unknown command \"" + name + "\"");
  TakeProgramOptions(args, options, false);
  if (options.version) return Show(VersionText());
  if (name == "help") return ShowHelp(options.help ? Args{} : args);
  if (options.help) return Show(CommandHelpText(*command));
  if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0)
    throw CliError("cannot work in " + options.directory + ": " + std::strerror(errno));
  WarnAboutExposedSettings(name);
  running = name;
  return command->run(args);
}

}  // namespace
}  // namespace qm::cli

int main(int argc, char** argv) {
  // A core application gives the network layer its event loop; no GUI is linked.
  QCoreApplication app(argc, argv);
  // Lock retries of the engine let queued events (socket notifications) run meanwhile.
  qm::dbf::SetMessagePump([] { QCoreApplication::processEvents(); });
  // Dates typed for import follow the user's locale, as in the windows.
  qm::catalog::ApplyLocaleDateFormat();
  const qm::cli::Args args(argv + 1, argv + argc);
  const std::string command =
      args.empty() || args[0].empty() || args[0][0] == '-' ? std::string() : args[0];
  std::string running;
  try {
    return qm::cli::Dispatch(args, running);
  } catch (const qm::cli::UsageError& e) {
    return qm::cli::UsageFailure(e.what(), qm::cli::FindCommand(command) ? command : "");
  } catch (const std::exception& e) {
    return qm::cli::Fail(qm::catalog::PlainMessage(e), qm::cli::NextStepAfterFailure(running, args));
  }
}
