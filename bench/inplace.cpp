// What a tool that edits levels in place does, for bench/batch.sh to compare
// against: each file is read whole (as any tool reads a level before editing
// it), then only the bytes that the edit changes are written over it, where
// they are, and the file is cut or grown to the new length: no temporary
// file, no flush. A crash in the middle leaves a level that is part old, part
// new. The changed bytes are found once, from the level before and after the
// edit, and kept in a small patch file:
//   qm_inplace --patch BEFORE AFTER PATCH    writes the patch
//   qm_inplace PATCH FILE...                 edits each FILE in place
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
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

// The patch: the new length, then each run's offset, length and bytes.
bool WritePatch(const std::vector<char>& after, const std::vector<TRun>& runs, const char* name) {
  std::vector<char> patch;
  auto put = [&](uint64_t v) { patch.insert(patch.end(), reinterpret_cast<char*>(&v), reinterpret_cast<char*>(&v) + 8); };
  put(after.size());
  for (const TRun& r : runs) {
    put(r.At), put(r.Size);
    patch.insert(patch.end(), after.begin() + long(r.At), after.begin() + long(r.At + r.Size));
  }
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const bool ok = fd >= 0 && ::write(fd, patch.data(), patch.size()) == ssize_t(patch.size());
  if (fd >= 0) ::close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--patch") {
    const std::vector<char> before = ReadAll(argv[2]), after = ReadAll(argv[3]);
    return WritePatch(after, ChangedRuns(before, after), argv[4]) ? 0 : 1;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: qm_inplace --patch BEFORE AFTER PATCH | qm_inplace PATCH FILE...\n");
    return 2;
  }
  const std::vector<char> patch = ReadAll(argv[1]);
  auto get = [&](size_t at) {
    uint64_t v = 0;
    if (at + 8 <= patch.size()) std::memcpy(&v, patch.data() + at, 8);
    return v;
  };
  int status = 0;
  for (int a = 2; a < argc; ++a) {
    const std::vector<char> level = ReadAll(argv[a]);
    const int fd = ::open(argv[a], O_WRONLY);
    bool ok = fd >= 0 && !level.empty() && patch.size() >= 8;
    for (size_t at = 8; ok && at + 16 <= patch.size();) {
      const uint64_t offset = get(at), size = get(at + 8);
      ok = at + 16 + size <= patch.size() && ::pwrite(fd, patch.data() + at + 16, size, off_t(offset)) == ssize_t(size);
      at += 16 + size;
    }
    if (ok && get(0) != level.size()) ok = ::ftruncate(fd, off_t(get(0))) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok) {
      std::fprintf(stderr, "qm_inplace: %s was not edited\n", argv[a]);
      status = 1;
    }
  }
  return status;
}
