// What a tool that edits levels in place does, for bench/batch.sh to compare
// against: each file is read whole (as any tool reads a level before editing
// it), then only the bytes that the edit changes are written over it, where
// they are, and the file is cut or grown to the new length: no temporary
// file, no flush. A crash in the middle leaves a level that is part old, part
// new. The changed bytes are found once, from the level before and after the
// edit.
//   qm_inplace BEFORE AFTER FILE...
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<char> ReadAll(const char* name) {
  std::vector<char> bytes;
  const int fd = ::open(name, O_RDONLY);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return bytes;
  bytes.resize(size_t(st.st_size));
  size_t got = 0;
  for (ssize_t n; got < bytes.size() && (n = ::read(fd, bytes.data() + got, bytes.size() - got)) > 0;) got += size_t(n);
  bytes.resize(got);
  ::close(fd);
  return bytes;
}

// The runs of bytes that differ, joined where they lie closer than a page.
struct TRun {
  size_t At, Size;
};
std::vector<TRun> ChangedRuns(const std::vector<char>& before, const std::vector<char>& after) {
  std::vector<TRun> runs;
  for (size_t i = 0; i < after.size(); ++i) {
    if (i < before.size() && before[i] == after[i]) continue;
    if (!runs.empty() && i - (runs.back().At + runs.back().Size) < 4096) runs.back().Size = i + 1 - runs.back().At;
    else runs.push_back({i, 1});
  }
  return runs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: qm_inplace BEFORE AFTER FILE...\n");
    return 2;
  }
  const std::vector<char> before = ReadAll(argv[1]), after = ReadAll(argv[2]);
  const std::vector<TRun> runs = ChangedRuns(before, after);
  int status = 0;
  for (int a = 3; a < argc; ++a) {
    const std::vector<char> level = ReadAll(argv[a]);
    const int fd = ::open(argv[a], O_WRONLY);
    bool ok = fd >= 0 && !level.empty();
    for (const TRun& r : runs) ok = ok && ::pwrite(fd, after.data() + r.At, r.Size, off_t(r.At)) == ssize_t(r.Size);
    if (ok && after.size() != level.size()) ok = ::ftruncate(fd, off_t(after.size())) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok) {
      std::fprintf(stderr, "qm_inplace: %s was not edited\n", argv[a]);
      status = 1;
    }
  }
  return status;
}
