// The command registry and the option parsing every command shares.
#include <algorithm>
#include <map>

#include "cli_command.h"

namespace qm::cli {

namespace {

std::vector<CommandInfo>& Registry() {
  static std::vector<CommandInfo> commands;
  return commands;
}

std::map<std::string, std::string>& HelpTexts() {
  static std::map<std::string, std::string> texts;
  return texts;
}

// The options end at the first "--"; everything after it is an operand.
Args::iterator OptionsEnd(Args& args) { return std::find(args.begin(), args.end(), "--"); }

bool LooksLikeOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

}  // namespace

bool RegisterCommand(const CommandInfo& info) {
  Registry().push_back(info);
  std::sort(Registry().begin(), Registry().end(),
            [](const CommandInfo& a, const CommandInfo& b) { return std::string(a.name) < b.name; });
  return true;
}

const std::vector<CommandInfo>& Commands() { return Registry(); }

const CommandInfo* FindCommand(const std::string& name) {
  for (const CommandInfo& c : Registry())
    if (name == c.name) return &c;
  return nullptr;
}

bool RegisterCommandHelp(const char* name, const char* details) {
  HelpTexts()[name] = details;
  return true;
}

std::string CommandHelp(const std::string& name) {
  const auto it = HelpTexts().find(name);
  return it == HelpTexts().end() ? std::string() : it->second;
}

bool TakeFlag(Args& args, const std::string& flag) {
  const auto end = OptionsEnd(args);
  const auto it = std::find(args.begin(), end, flag);
  if (it == end) return false;
  args.erase(it);
  return true;
}

bool TakeOption(Args& args, const std::string& flag, std::string& value) {
  const auto end = OptionsEnd(args);
  for (auto it = args.begin(); it != end; ++it) {
    if (it->rfind(flag + "=", 0) == 0) {
      value = it->substr(flag.size() + 1);
      args.erase(it);
      return true;
    }
    if (*it != flag) continue;
    if (it + 1 == end) throw UsageError("option " + flag + " needs a value");
    value = *(it + 1);
    args.erase(it, it + 2);
    return true;
  }
  return false;
}

Args Operands(const std::string& command, const Args& args) {
  Args operands;
  bool optionsEnded = false;
  for (const std::string& word : args) {
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && LooksLikeOption(word)) throw UsageError(command + ": unknown option " + word);
    operands.push_back(word);
  }
  return operands;
}

void ExpectOperands(const std::string& command, const Args& operands, std::size_t min, std::size_t max) {
  if (operands.size() > max) throw UsageError(command + ": unexpected argument \"" + operands[max] + "\"");
  if (operands.size() < min)
    throw UsageError(command + ": " + std::to_string(min - operands.size()) +
                     (min - operands.size() == 1 ? " argument" : " arguments") + " missing");
}

}  // namespace qm::cli
