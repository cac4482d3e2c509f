// Memory stays bounded whatever a file claims. The real binary is run on
// TR4 levels from the builder with one or more chunks replaced by streams of
// zeros (decompression bombs that inflate past 2 GiB, streams just over and
// just under the cap of one chunk, chunks that pass the cap of all together)
// and on "ZLIB" containers of the same streams. A refused file peaks at most at
// twice its size plus 64 MiB; a loaded one at twice its size and what it keeps
// plus 64 MiB.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "platform.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

constexpr uint64_t MiB = uint64_t{1} << 20;
constexpr uint64_t Cap = 256 * MiB;

void Put32(Bytes& b, uint32_t v) {
  for (int s = 0; s < 32; s += 8) b.push_back(uint8_t(v >> s));
}

// Raw deflate blocks for `bytes` zeros, ended by a sync flush so that further
// blocks may follow (their matches only reach back into zeros).
Bytes ZeroSegment(size_t bytes) {
  const Bytes zeros(bytes);
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes segment(bytes / 500 + 1024);
  s.next_in = const_cast<Bytef*>(zeros.data());
  s.avail_in = uInt(zeros.size());
  s.next_out = segment.data();
  s.avail_out = uInt(segment.size());
  EXPECT_EQ(deflate(&s, Z_SYNC_FLUSH), Z_OK);
  EXPECT_EQ(s.avail_in, 0u);
  deflateEnd(&s);
  return Bytes(segment.data(), s.next_out);
}

// A zlib stream of exactly `bytes` zeros: a 16 MiB segment repeated, one for
// the rest, then an empty final block and (with check) the Adler-32 of the
// zeros, so that the stream is whole; a bomb needs no check value, as no
// reader may get there.
Bytes ZeroStream(uint64_t bytes, bool check = true) {
  static const Bytes sixteen = ZeroSegment(16 * MiB);
  Bytes stream = {0x78, 0xDA};
  for (uint64_t n = 0; n + 16 * MiB <= bytes; n += 16 * MiB) stream.insert(stream.end(), sixteen.begin(), sixteen.end());
  if (bytes % (16 * MiB) != 0) {
    const Bytes rest = ZeroSegment(size_t(bytes % (16 * MiB)));
    stream.insert(stream.end(), rest.begin(), rest.end());
  }
  stream.insert(stream.end(), {0x03, 0x00});  // a final fixed-code block with no symbol but its end
  if (check) {
    const uint32_t adler = uint32_t(bytes % 65521) << 16 | 1;  // every zero adds 1 to the second sum
    for (int s = 24; s >= 0; s -= 8) stream.push_back(uint8_t(adler >> s));
  }
  return stream;
}

// The level file with chunk k (1..4) stored as `stream` under the stated size.
Bytes WithChunk(const Bytes& file, const BLayout& layout, int k, const Bytes& stream, uint32_t stated) {
  const size_t at = layout.File("chunk" + std::to_string(k)), data = at + 8;
  Bytes out(file.begin(), file.begin() + long(at));
  Put32(out, stated), Put32(out, uint32_t(stream.size()));
  out.insert(out.end(), stream.begin(), stream.end());
  out.insert(out.end(), file.begin() + long(data + U32(file, at + 4)), file.end());
  return out;
}

Bytes Container(const Bytes& stream, uint32_t stated) {
  Bytes file = {'Z', 'L', 'I', 'B'};
  Put32(file, uint32_t(stream.size())), Put32(file, stated);
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
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

std::string Refusal(const std::string& message, const std::string& where) {
  return kBanner + Lines({"Loading Level...", message, where});
}

std::string ChunkRefusal(const std::string& chunk) {
  return Refusal("The " + chunk + " unpacks to more than 256 MiB; the level is refused.", "in the " + chunk);
}

TEST(MemoryBound, ChunksAndContainersBeyondTheirCapsAreRefusedWithoutTakingTheirSize) {
  ScratchDir scratch;
  BLayout layout;
  const Bytes level = Build(SampleLevel(6, 1), &layout);
  WriteBytes(scratch.path / "level.tr4", level);
  const RunResult plain = RunBinary(scratch.path, {(scratch.path / "level.tr4").string(), "/Info"});
  ASSERT_EQ(plain.Status, 0) << plain.Out;

  const Bytes bomb = ZeroStream(2048 * MiB + 64 * MiB, false), over = ZeroStream(Cap + 1), under = ZeroStream(Cap);
  // A zlib header, then a block of the reserved type.
  Bytes broken(100, 0xFF);
  broken[0] = 0x78, broken[1] = 0xDA;
  const Bytes third = ZeroStream(180 * MiB);
  auto one = [&](int k, const Bytes& stream, uint32_t stated) { return WithChunk(level, layout, k, stream, stated); };
  // Several chunks, the last first, so that the layout's places of the
  // earlier ones still hold.
  auto chunks = [&](std::vector<std::pair<int, const Bytes*>> streams, uint32_t stated) {
    Bytes file = level;
    for (auto it = streams.rbegin(); it != streams.rend(); ++it) file = WithChunk(file, layout, it->first, *it->second, stated);
    return file;
  };
  const std::string together =
      "The chunks of this level unpack to more than 512 MiB together; the level is refused.";

  struct Row {
    const char* Name;
    Bytes File;
    int Status;
    std::string Out;
    uint64_t Kept;  // the bytes a loaded level holds beyond the file
  };
  const Row rows[] = {
      {"bomb1.tr4", one(1, bomb, 262144), 1, ChunkRefusal("32-bit texture pages chunk"), 0},
      {"bomb2.tr4", one(2, bomb, 131072), 1, ChunkRefusal("16-bit texture pages chunk"), 0},
      {"bomb3.tr4", one(3, bomb, 0), 1, ChunkRefusal("misc texture pages chunk"), 0},
      {"bomb4.tr4", one(4, bomb, 0x7FFFFFFF), 1, ChunkRefusal("level data chunk"), 0},
      // One byte over the cap, the size stated truly.
      {"over4.tr4", one(4, over, uint32_t(Cap + 1)), 1, ChunkRefusal("level data chunk"), 0},
      // Exactly the cap: the level loads as it does without the large chunk.
      {"under1.tr4", one(1, under, uint32_t(Cap)), 0, plain.Out, Cap},
      // Three chunks of 180 MiB pass 512 MiB with the third, also when a
      // later chunk is broken (it comes after, in file order).
      {"three.tr4", chunks({{1, &third}, {2, &third}, {3, &third}}, uint32_t(180 * MiB)), 1,
       Refusal(together, "in the misc texture pages chunk"), 0},
      {"three_broken.tr4", chunks({{1, &third}, {2, &third}, {3, &third}, {4, &broken}}, uint32_t(180 * MiB)), 1,
       Refusal(together, "in the misc texture pages chunk"), 0},
      {"bomb.tr2", Container(bomb, 1000), 1,
       Refusal("The ZLIB container unpacks to more than 256 MiB; the level is refused.", "ZLIB container"), 0},
      {"over.tr2", Container(over, 0x7FFFFFFF), 1,
       Refusal("The ZLIB container unpacks to more than 256 MiB; the level is refused.", "ZLIB container"), 0},
      // Exactly the cap unpacks; its zeros are then no level.
      {"under.tr2", Container(under, uint32_t(Cap)), 2, kBanner + Lines({"Loading Level...", "Invalid tr level format."}),
       Cap},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    WriteBytes(scratch.path / row.Name, row.File);
    const RunResult r = RunBinary(scratch.path, {(scratch.path / row.Name).string(), "/Info"});
    EXPECT_EQ(r.Status, row.Status);
    EXPECT_EQ(r.Out, row.Out);
#if !defined(__SANITIZE_ADDRESS__)
    const long bound = long(2 * (row.File.size() + row.Kept) / 1024) + 64 * 1024;
    EXPECT_LE(r.PeakKiB, bound) << "peak " << r.PeakKiB << " KiB for a file of " << row.File.size() << " bytes";
#endif
    fs::remove(scratch.path / row.Name);
  }
}

// The heap is readied only with a block it keeps once freed: a block from
// 32 MiB on is mapped on its own and would be faulted in for nothing.
TEST(MemoryBound, PrepareHeapReadiesOnlyWhatTheHeapKeeps) {
#if !defined(__GLIBC__)
  GTEST_SKIP() << "the heap is readied with glibc only";
#else
  const struct {
    size_t Bytes;
    bool Readied;
  } rows[] = {
      {64 * 1024, false},             // too small to be worth it
      {4 * MiB, true},
      {31 * MiB, true},
      {32 * MiB, false},              // mapped on its own
      {100 * MiB, false},
  };
  // In a child process: readying the heap changes its settings for the rest
  // of the run.
  auto prepare = [&] {
    int wrong = 0;  // bit i: row i
    for (size_t i = 0; i < std::size(rows); ++i)
      if (qm::PrepareHeap(rows[i].Bytes) != rows[i].Readied) wrong |= 1 << i;
    std::_Exit(wrong);
  };
  EXPECT_EXIT(prepare(), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
