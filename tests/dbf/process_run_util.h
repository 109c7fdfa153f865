#pragma once
// Running programs from the tests: the command-line companion and the Python
// peers, in a given directory, without a shell, with their output captured.

#include <sys/types.h>

#include <string>
#include <vector>

namespace qm::dbf::test {

struct ProcessResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// A started program; Wait() collects its exit status and output.
class RunningProcess {
 public:
  RunningProcess(const std::vector<std::string>& argv, const std::string& dir);
  ~RunningProcess();
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;
  ProcessResult Wait();

 private:
  pid_t m_pid = -1;
  std::string m_outPath, m_errPath;
};

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& dir);
// quillmart-cli with these arguments, in dir.
ProcessResult RunCli(const std::vector<std::string>& args, const std::string& dir);
// /usr/bin/python3 running a script of this test folder.
ProcessResult RunPeerScript(const std::string& script, const std::vector<std::string>& args,
                            const std::string& dir);

}  // namespace qm::dbf::test
