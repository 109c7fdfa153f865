#pragma once
// The command-line companion's command registry.
//
// Every command lives in its own cmd_*.cpp file and registers itself with
// QM_CLI_COMMAND; the CMake rule compiles every such file straight into the
// executable, so adding a command never touches another command's file.
//
// Contract for a command: it works in the current directory, prints its output
// on stdout, and on failure throws CliError (or any std::exception) whose text
// is printed as one line on stderr; the process then exits with status 1.

#include <stdexcept>
#include <string>
#include <vector>

namespace qm::cli {

using Args = std::vector<std::string>;  // the words after the command name
using CommandFn = int (*)(const Args& args);

class CliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CommandInfo {
  const char* name;
  const char* usage;  // one line, shown by "quillmart-cli help"
  CommandFn run;
};

// Registers a command; returns true so it can initialise a static.
bool RegisterCommand(const CommandInfo& info);
const std::vector<CommandInfo>& Commands();

// Small helpers shared by the commands' argument parsing.
bool TakeFlag(Args& args, const std::string& flag);                 // removes "--flag" when present
bool TakeOption(Args& args, const std::string& flag, std::string& value);  // "--flag VALUE"

}  // namespace qm::cli

#define QM_CLI_CONCAT2(a, b) a##b
#define QM_CLI_CONCAT(a, b) QM_CLI_CONCAT2(a, b)
#define QM_CLI_COMMAND(name, usage, fn)                                      \
  static const bool QM_CLI_CONCAT(qmCliRegistered_, __LINE__) =              \
      ::qm::cli::RegisterCommand(::qm::cli::CommandInfo{name, usage, fn})
