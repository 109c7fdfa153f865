#include "process_run_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace qm::dbf::test {
namespace {

std::string TempFile(const char* tag) {
  std::string pattern = std::string("/tmp/qm-proc-") + tag + "-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  return pattern;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

RunningProcess::RunningProcess(const std::vector<std::string>& argv, const std::string& dir)
    : m_outPath(TempFile("out")), m_errPath(TempFile("err")) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);
  m_pid = fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(m_outPath.c_str(), O_WRONLY | O_TRUNC);
    const int err = open(m_errPath.c_str(), O_WRONLY | O_TRUNC);
    if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(args[0], args.data());
    _exit(127);
  }
}

RunningProcess::~RunningProcess() {
  if (m_pid > 0) Wait();
  std::remove(m_outPath.c_str());
  std::remove(m_errPath.c_str());
}

ProcessResult RunningProcess::Wait() {
  ProcessResult result;
  int status = 0;
  if (m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  m_pid = -1;
  result.out = Slurp(m_outPath);
  result.err = Slurp(m_errPath);
  return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& dir) {
  return RunningProcess(argv, dir).Wait();
}

ProcessResult RunCli(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> argv{QM_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, dir);
}

ProcessResult RunPeerScript(const std::string& script, const std::vector<std::string>& args,
                            const std::string& dir) {
  std::vector<std::string> argv{"/usr/bin/python3",
                                std::string(QM_SOURCE_DIR) + "/tests/dbf/" + script};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, dir);
}

}  // namespace qm::dbf::test
