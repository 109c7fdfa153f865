// quillmart-cli: the headless companion of the Quillmart windows program.
#include <QCoreApplication>

#include <cstdio>
#include <exception>
#include <string>

#include "cli_command.h"
#include "dbf/disk_file.h"

namespace qm::cli {

namespace {
std::vector<CommandInfo>& Registry() {
  static std::vector<CommandInfo> commands;
  return commands;
}
}  // namespace

bool RegisterCommand(const CommandInfo& info) {
  Registry().push_back(info);
  return true;
}

const std::vector<CommandInfo>& Commands() { return Registry(); }

bool TakeFlag(Args& args, const std::string& flag) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == flag) {
      args.erase(it);
      return true;
    }
  }
  return false;
}

bool TakeOption(Args& args, const std::string& flag, std::string& value) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it != flag) continue;
    if (it + 1 == args.end()) throw CliError("Option " + flag + " needs a value");
    value = *(it + 1);
    args.erase(it, it + 2);
    return true;
  }
  return false;
}

}  // namespace qm::cli

namespace {
void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: quillmart-cli COMMAND [ARGS]\n");
  for (const auto& c : qm::cli::Commands()) std::fprintf(out, "  %s\n", c.usage);
}
}  // namespace

int main(int argc, char** argv) {
  // A core application gives the network layer its event loop; no GUI is linked.
  QCoreApplication app(argc, argv);
  // Lock retries of the engine let queued events (socket notifications) run meanwhile.
  qm::dbf::SetMessagePump([] { QCoreApplication::processEvents(); });
  if (argc < 2 || std::string(argv[1]) == "help" || std::string(argv[1]) == "--help") {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 1 : 0;
  }
  const std::string name = argv[1];
  qm::cli::Args args(argv + 2, argv + argc);
  for (const auto& c : qm::cli::Commands()) {
    if (name != c.name) continue;
    try {
      return c.run(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "Unknown command: %s\n", name.c_str());
  PrintUsage(stderr);
  return 1;
}
