// Runs a program as a user's shell would: in a folder, with its arguments
// quoted, standard output and standard error caught (or standard output sent
// where a redirection says), and the exit status.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tool_test_support.h"

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

}  // namespace qmtest
