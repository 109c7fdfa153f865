#pragma once
// The command-line companion's command registry and its argument conventions.
//
// Every command lives in its own cmd_*.cpp file and registers itself with
// QM_CLI_COMMAND; the CMake rule compiles every such file straight into the
// executable, so adding a command never touches another command's file.
//
// Contract for a command: it works in the current directory (main has already
// applied -C DIR), prints its output on stdout, and on failure throws:
//   UsageError  the command line is wrong           -> exit status 2
//   CliError or any other exception                  -> exit status 1
// main prints the text once on stderr as "quillmart-cli: <text>", engine
// errors translated to plain words first (app/core/plain_messages.h).
// "-h"/"--help" anywhere before "--" never reaches the command: main shows the
// command's help instead.
//
// Arguments follow the GNU conventions: "--opt VALUE" and "--opt=VALUE" are
// the same, "--" ends the options, and every word after it is an operand.

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

// A wrong command line: unknown option, missing value, wrong operand count.
class UsageError : public CliError {
 public:
  using CliError::CliError;
};

struct CommandInfo {
  const char* name;
  // "SYNOPSIS  SUMMARY": the synopsis, two or more blanks, one line saying
  // what the command does; "quillmart-cli help" aligns the summaries.
  const char* usage;
  CommandFn run;
};

// Registers a command; returns true so it can initialise a static.
bool RegisterCommand(const CommandInfo& info);
const std::vector<CommandInfo>& Commands();
const CommandInfo* FindCommand(const std::string& name);

// The longer help of a command ("quillmart-cli help NAME", "NAME --help"):
// option lines ("  --opt VALUE  what it does") and notes. Returns true.
bool RegisterCommandHelp(const char* name, const char* details);
std::string CommandHelp(const std::string& name);

// Option parsing shared by the commands; each looks only before "--".
bool TakeFlag(Args& args, const std::string& flag);  // removes "--flag" when present
// "--flag VALUE" or "--flag=VALUE"; UsageError when the value is missing.
bool TakeOption(Args& args, const std::string& flag, std::string& value);
// What is left once the command took its options: the operands, "--" removed.
// UsageError for a word before "--" that still looks like an option.
Args Operands(const std::string& command, const Args& args);
// UsageError unless min <= operands.size() <= max.
void ExpectOperands(const std::string& command, const Args& operands, std::size_t min,
                    std::size_t max);

}  // namespace qm::cli

#define QM_CLI_CONCAT2(a, b) a##b
#define QM_CLI_CONCAT(a, b) QM_CLI_CONCAT2(a, b)
#define QM_CLI_COMMAND(name, usage, fn)                                      \
  static const bool QM_CLI_CONCAT(qmCliRegistered_, __LINE__) =              \
      ::qm::cli::RegisterCommand(::qm::cli::CommandInfo{name, usage, fn})
#define QM_CLI_HELP(name, details)                                           \
  static const bool QM_CLI_CONCAT(qmCliHelp_, __LINE__) =                    \
      ::qm::cli::RegisterCommandHelp(name, details)
