// Runs commands several times, taking turns so that a change in the machine's
// load hits all of them alike, and prints for each command one line: the
// median wall time in ms and the largest peak resident memory in MiB.
//   qm_measure RUNS [--fresh SRC DST] [--status N] -- COMMAND [ARGS...] [-- COMMAND ...]
// --fresh copies SRC over DST before every run (outside the timing), so an
// edit always starts from the same file. The commands' output is discarded;
// a run that ends with another status than N (default 0) stops the
// measurement.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool Copy(const char* from, const char* to) {
  const int in = ::open(from, O_RDONLY), out = ::open(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = in >= 0 && out >= 0;
  static char buf[1 << 16];  // small: a forked child starts with our resident pages
  for (ssize_t n; ok && (n = ::read(in, buf, sizeof buf)) != 0;)
    ok = n > 0 && ::write(out, buf, size_t(n)) == n;
  if (in >= 0) ::close(in);
  if (out >= 0 && ::close(out) != 0) ok = false;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int a = 2;
  const char *src = nullptr, *dst = nullptr;
  if (argc > 4 && std::strcmp(argv[a], "--fresh") == 0) src = argv[a + 1], dst = argv[a + 2], a += 3;
  int expected = 0;
  if (a + 1 < argc && std::strcmp(argv[a], "--status") == 0) expected = std::atoi(argv[a + 1]), a += 2;
  const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  if (runs < 1 || a + 1 >= argc || std::strcmp(argv[a], "--") != 0)
    return std::fprintf(stderr, "usage: qm_measure RUNS [--fresh SRC DST] [--status N] -- COMMAND [ARGS...] [-- COMMAND ...]\n"), 2;
  // Split the rest at each "--" into argv-style commands.
  std::vector<std::vector<char*>> commands;
  for (int i = a; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) commands.emplace_back();
    else commands.back().push_back(argv[i]);
  }
  for (auto& command : commands) {
    if (command.empty()) return 2;
    command.push_back(nullptr);
  }
  std::vector<std::vector<double>> ms(commands.size());
  std::vector<long> peakKiB(commands.size(), 0);
  for (int r = 0; r < runs; ++r)
    for (size_t c = 0; c < commands.size(); ++c) {
      std::vector<char*>& command = commands[c];
      if (src && !Copy(src, dst)) return std::fprintf(stderr, "qm_measure: cannot copy %s to %s\n", src, dst), 1;
      const auto start = std::chrono::steady_clock::now();
      const pid_t pid = ::fork();
      if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execvp(command[0], command.data());
        _exit(127);
      }
      int status = 0;
      struct rusage use {};
      if (pid < 0 || ::wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != expected)
        return std::fprintf(stderr, "qm_measure: %s failed (status %d)\n", command[0], status), 1;
      ms[c].push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      peakKiB[c] = std::max(peakKiB[c], use.ru_maxrss);
    }
  for (size_t c = 0; c < commands.size(); ++c) {
    std::vector<double>& t = ms[c];
    std::sort(t.begin(), t.end());
    const size_t h = t.size() / 2;
    std::printf("%.1f %.1f\n", t.size() % 2 ? t[h] : (t[h - 1] + t[h]) / 2, double(peakKiB[c]) / 1024);
  }
  return 0;
}
