// Runs a program as a user's shell would: in a folder, with its arguments
// quoted, standard output and standard error caught (or standard output sent
// where a redirection says), and the exit status.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <string>
#include <vector>

#include "tool_test_support.h"

extern char** environ;

namespace qmtest {

struct BinaryRun {
  int status = -1;  // -1 when the program did not end by itself
  std::string out, err;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q.append("'\\''");
    else q.push_back(c);
  }
  q.push_back('\'');
  return q;
}

// stdoutTo replaces the catching of standard output when not empty, e.g.
// ">/dev/full" or ">&-".
inline BinaryRun RunBinary(const fs::path& dir, const std::string& program, const std::vector<std::string>& args,
                           const std::string& stdoutTo = "") {
  std::string cmd = "cd " + ShellQuote(dir.string()) + " && " + ShellQuote(program);
  for (const std::string& a : args) cmd += " " + ShellQuote(a);
  cmd += (stdoutTo.empty() ? " >.out" : " " + stdoutTo) + " 2>.err";
  const int raw = std::system(cmd.c_str());
  BinaryRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const Bytes out = ReadBytes(dir / ".out"), err = ReadBytes(dir / ".err");
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  fs::remove(dir / ".out");
  fs::remove(dir / ".err");
  return run;
}

// Starts the binary with args, its standard output going to the descriptor
// outFd when it is 0 or more, else to outPath, and its standard error to
// errPath (or both nowhere); the process id, or -1.
inline pid_t StartBinary(const std::vector<std::string>& args, const std::string& outPath = "/dev/null",
                         const std::string& errPath = "/dev/null", int outFd = -1) {
  std::vector<std::string> all = {QM_TOOL_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  else posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, QM_TOOL_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit status of pid; -1 when it did not end by itself. A run still going
// after a minute, which no correct run comes near, is ended (-2): a fault must
// not hang the suite.
inline int FinishBinary(pid_t pid) {
  if (pid <= 0) return -3;  // not started
  for (int i = 0; i < 60000; ++i) {
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) == pid) return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -2;
}

// A fresh folder in memory where the system has one: every edit flushes the
// level to disk, and hundreds of edits that take turns would spend most of
// their time waiting for the disk.
struct MemoryScratchDir {
  MemoryScratchDir() {
    char inMemory[] = "/dev/shm/qm_test_XXXXXX", onDisk[] = "/tmp/qm_test_XXXXXX";
    path = mkdtemp(inMemory) ? inMemory : mkdtemp(onDisk) ? onDisk : "";
    EXPECT_FALSE(path.empty());
  }
  ~MemoryScratchDir() { fs::remove_all(path); }
  fs::path path;
};

}  // namespace qmtest
