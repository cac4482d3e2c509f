// Memory stays bounded whatever a file claims: decompression bombs (a small
// stream that inflates past 2 GiB) in one chunk, in all four chunks, and as the
// "ZLIB" container are refused by the real binary with the usual report, at a
// peak of at most twice the file's size plus 64 MiB.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "tool_test_support.h"

using namespace qmtest;

namespace {

void Put32(Bytes& b, uint32_t v) {
  for (int s = 0; s < 32; s += 8) b.push_back(uint8_t(v >> s));
}

// A zlib stream that inflates to at least `bytes` zeros: one segment of
// deflate blocks for 16 MiB of zeros, ended by a sync flush so that it can be
// repeated (its matches only reach back into zeros), then an empty final block.
// The check value is left out: the tool must refuse the stream before it gets
// there.
Bytes ZeroBomb(uint64_t bytes) {
  const Bytes zeros(size_t{16} << 20);
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes segment(1 << 20), last(64);
  s.next_in = const_cast<Bytef*>(zeros.data());
  s.avail_in = uInt(zeros.size());
  s.next_out = segment.data();
  s.avail_out = uInt(segment.size());
  EXPECT_EQ(deflate(&s, Z_SYNC_FLUSH), Z_OK);
  segment.resize(segment.size() - s.avail_out);
  s.next_out = last.data();
  s.avail_out = uInt(last.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  last.resize(last.size() - s.avail_out);
  deflateEnd(&s);
  Bytes stream = {0x78, 0xDA};
  for (uint64_t made = 0; made < bytes; made += zeros.size()) stream.insert(stream.end(), segment.begin(), segment.end());
  stream.insert(stream.end(), last.begin(), last.end());
  return stream;
}

struct RunResult {
  int Status = -1;
  std::string Out;
  long PeakKiB = 0;
};

// Runs the real binary with output to a file; the peak resident memory of the
// child alone, from wait4.
RunResult RunBinary(const fs::path& dir, const std::vector<std::string>& args) {
  RunResult r;
  const std::string out = (dir / "out.txt").string();
  const pid_t pid = fork();
  if (pid == 0) {
    FILE* f = std::freopen(out.c_str(), "wb", stdout);
    if (!f) _exit(99);
    std::vector<char*> argv = {const_cast<char*>(QM_TOOL_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QM_TOOL_PATH, argv.data());
    _exit(98);
  }
  int status = 0;
  rusage usage{};
  EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.PeakKiB = usage.ru_maxrss;
  const Bytes text = ReadBytes(out);
  r.Out.assign(text.begin(), text.end());
  return r;
}

TEST(MemoryBound, DecompressionBombsAreRefusedWithoutTakingTheirSize) {
  ScratchDir scratch;
  const Bytes bomb = ZeroBomb((uint64_t{2} << 30) + (uint64_t{64} << 20));
  const Bytes empty = Deflate({});
  auto chunk = [](Bytes& file, const Bytes& stream, uint32_t stated) {
    Put32(file, stated), Put32(file, uint32_t(stream.size()));
    file.insert(file.end(), stream.begin(), stream.end());
  };
  const Bytes head = {'T', 'R', '4', 0, 0, 0, 0, 0, 0, 0};
  Bytes one = head, four = head, wrapped = {'Z', 'L', 'I', 'B'};
  for (int i = 0; i < 3; ++i) chunk(one, empty, 0);
  chunk(one, bomb, 0x7FFFFFFF);
  for (int i = 0; i < 4; ++i) chunk(four, bomb, 0x7FFFFFFF);
  Put32(wrapped, uint32_t(bomb.size())), Put32(wrapped, 0x7FFFFFFF);
  wrapped.insert(wrapped.end(), bomb.begin(), bomb.end());

  struct Row { const char* Name; const Bytes& File; const char* Where; };
  const Row rows[] = {
      {"bomb1.tr4", one, "in the level data chunk: the decompressed block would exceed 2 GiB"},
      {"bomb4.tr4", four, "in the 32-bit texture pages chunk: the decompressed block would exceed 2 GiB"},
      {"bombz.tr2", wrapped, "ZLIB container: the decompressed block would exceed 2 GiB"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    WriteBytes(scratch.path / row.Name, row.File);
    const RunResult r = RunBinary(scratch.path, {(scratch.path / row.Name).string(), "/Info"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, kBanner + Lines({"Loading Level...", "error.", row.Where}));
#if !defined(__SANITIZE_ADDRESS__)
    const long bound = long(2 * row.File.size() / 1024) + 64 * 1024;
    EXPECT_LE(r.PeakKiB, bound) << "peak " << r.PeakKiB << " KiB for a file of " << row.File.size() << " bytes";
#endif
  }
}

}  // namespace
