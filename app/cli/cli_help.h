#pragma once
// The companion's help texts, built from the command registry, so the
// overview, each command's help, the man page and the bash completion (which
// reads the help) can never disagree.

#include <string>

#include "cli_command.h"

namespace qm::cli {

inline constexpr char kProgramName[] = "quillmart-cli";

// "quillmart-cli --help" / "quillmart-cli help": options and aligned commands.
std::string ProgramHelp();
// "quillmart-cli help NAME" / "quillmart-cli NAME --help".
std::string CommandHelpText(const CommandInfo& command);
// "quillmart-cli --version".
std::string VersionText();
// The man page quillmart-cli(1) in roff, made from the same texts.
std::string ManPage();

}  // namespace qm::cli
