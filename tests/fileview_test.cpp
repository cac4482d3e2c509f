// The file view a level is read through: whatever order the bytes are asked
// for in (forward in steps smaller and larger than the window, overlapping the
// last range, back to the start again, large copies straight from the file),
// they are the file's bytes.
#include <cstring>
#include <random>

#include "fileview.h"
#include "platform.h"
#include "reader.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

constexpr size_t W = qm::TFileView::WindowSize;

// A file of n bytes of a pattern in which no two windows look alike, open for
// reading through a view.
struct ViewedFile {
  explicit ViewedFile(size_t n) : content(n) {
    std::mt19937 rng{unsigned(n)};
    for (uint8_t& b : content) b = uint8_t(rng());
    WriteBytes(dir.path / "f.bin", content);
    file.OpenRead((dir.path / "f.bin").string());
    view.Open(file, content.size());
  }
  ScratchDir dir;
  Bytes content;
  qm::TDiskFile file;
  qm::TFileView view;
};

// A place in the file: an offset from an anchor, clamped to the file.
enum class From { Start, Window, End, Hi };
struct Place {
  From anchor;
  long offset;
};
size_t Resolve(const Place& p, const qm::TFileView& v) {
  const long base = p.anchor == From::Start ? 0 : p.anchor == From::Window ? long(W)
                    : p.anchor == From::End  ? long(v.Size()) : long(v.Hi());
  return size_t(std::clamp(base + p.offset, 0L, long(v.Size())));
}

// Ensure a range, give back the bytes before a place, or copy a range out.
enum class Op { Ensure, Release, Copy };
struct Step {
  Op op;
  Place at;
  long length;  // to the end of the file at most
};

TEST(FileView, RangesAtTheWindowsEdgesAreTheFilesBytes) {
  const Place start{From::Start, 0};
  const struct {
    const char* name;
    std::vector<Step> steps;
  } rows[] = {
      {"forward across the window edge", {{Op::Ensure, start, 4}, {Op::Ensure, {From::Window, -3}, 6},
                                          {Op::Ensure, {From::Window, 1}, 2}, {Op::Ensure, {From::Window, long(W) - 1}, 2}}},
      {"ending at the window end, then one past it", {{Op::Ensure, {From::Start, 7}, 4}, {Op::Ensure, {From::Hi, -8}, 8},
                                                      {Op::Ensure, {From::Hi, -1}, 2}}},
      {"ending at the file end", {{Op::Ensure, {From::End, -10}, 10}, {Op::Ensure, {From::End, -1}, 1},
                                  {Op::Ensure, start, 3}, {Op::Ensure, {From::End, -long(W)}, long(W)}}},
      {"exactly the window's size, and one byte more", {{Op::Ensure, {From::Start, 1}, long(W)},
                                                        {Op::Ensure, start, long(W) + 1}, {Op::Ensure, {From::Start, 2}, 8}}},
      {"larger than the window, then inside and past it", {{Op::Ensure, start, 16}, {Op::Ensure, {From::Start, 5}, long(W) + 100},
                                                           {Op::Ensure, {From::Window, 50}, 10}, {Op::Ensure, {From::Window, 104}, 10},
                                                           {Op::Ensure, {From::Window, 200}, long(W)}}},
      {"released after a large range, then read again", {{Op::Ensure, {From::Start, 5}, 2 * long(W)}, {Op::Release, {From::End, 0}, 0},
                                                         {Op::Ensure, {From::Window, -2}, 4}, {Op::Ensure, start, 4},
                                                         {Op::Release, {From::Start, 1}, 0}, {Op::Ensure, {From::Start, 1}, 3}}},
      {"copies over, before and past the window", {{Op::Ensure, {From::Window, 0}, 100}, {Op::Copy, {From::Window, -10}, 20},
                                                    {Op::Copy, {From::Hi, -5}, 10}, {Op::Copy, start, 1 << 30},
                                                    {Op::Copy, {From::Window, 90}, 20}, {Op::Ensure, {From::Window, 30}, 3}}},
  };
  for (const size_t size : {W - 1, W, W + 1, 2 * W - 1, 2 * W, 2 * W + 1}) {
    ViewedFile f(size);
    for (const auto& row : rows) {
      f.view.Open(f.file, size);  // each row from a fresh view
      for (const Step& step : row.steps) {
        const size_t from = Resolve(step.at, f.view), to = std::min(size, from + size_t(step.length));
        SCOPED_TRACE(std::string(row.name) + ", file of " + std::to_string(size) + " bytes, bytes " +
                     std::to_string(from) + " to " + std::to_string(to));
        if (step.op == Op::Release) {
          f.view.ReleaseBefore(from);
          continue;
        }
        if (step.op == Op::Copy) {
          Bytes out(to - from);
          f.view.CopyOut(from, out.data(), out.size());
          EXPECT_TRUE(std::equal(out.begin(), out.end(), f.content.begin() + long(from)));
          continue;
        }
        const uint8_t* p = f.view.Ensure(from, to);
        ASSERT_TRUE(f.view.Lo() <= from && to <= f.view.Hi() && f.view.Hi() <= size)
            << "window " << f.view.Lo() << " to " << f.view.Hi();
        EXPECT_TRUE(std::equal(p, p + (to - from), f.content.begin() + long(from)));
        // Everything the window holds, read ahead included, is the file's.
        const uint8_t* held = f.view.Ensure(f.view.Lo(), f.view.Hi());
        EXPECT_TRUE(std::equal(held, held + (f.view.Hi() - f.view.Lo()), f.content.begin() + long(f.view.Lo())));
      }
    }
  }
}

TEST(FileView, FieldsReadThroughTheViewAcrossItsEdges) {
  // A reader walking the file through the view: fields and blocks that start
  // before, end at and cross the window's edges, and a block large enough to
  // be copied straight from the file.
  const size_t size = 2 * W + 3;
  ViewedFile f(size);
  qm::TReader reader(nullptr, size, "file");
  reader.ReadThrough(&f.view);
  const struct {
    size_t at;
    size_t width;  // 1, 2, 4: a field; more: a block
  } rows[] = {{0, 4},         {W - 6, 4},         {W - 2, 4},     {W + 2, 2}, {W + 4, 1}, {W + 5, 100},
              {W + 105, W - 300}, {2 * W - 100, 4}, {2 * W - 4, 4}, {2 * W, 2}, {2 * W + 2, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE("at " + std::to_string(row.at) + ", " + std::to_string(row.width) + " bytes");
    ASSERT_LE(reader.Pos(), row.at);
    reader.Skip(row.at - reader.Pos());
    if (row.width == 1) EXPECT_EQ(reader.U8(), f.content[row.at]);
    else if (row.width == 2) EXPECT_EQ(reader.U16(), U16(f.content, row.at));
    else if (row.width == 4) EXPECT_EQ(reader.U32(), U32(f.content, row.at));
    else {
      Bytes got(row.width);
      reader.Bytes(got.data(), got.size());
      EXPECT_TRUE(std::equal(got.begin(), got.end(), f.content.begin() + long(row.at)));
    }
  }
  EXPECT_EQ(reader.Remaining(), 0u);
}

TEST(FileView, EveryWayOfReadingGivesTheFilesBytes) {
  ScratchDir dir;
  Bytes content(3'000'001);
  std::mt19937 rng(7);
  for (uint8_t& b : content) b = uint8_t(rng());
  WriteBytes(dir.path / "f.bin", content);
  qm::TDiskFile file;
  file.OpenRead((dir.path / "f.bin").string());
  qm::TFileView view;
  view.Open(file, content.size());
  ASSERT_EQ(view.Size(), content.size());

  auto expectAt = [&](size_t from, size_t n) {
    const uint8_t* p = view.Ensure(from, from + n);
    ASSERT_EQ(std::memcmp(p, content.data() + from, n), 0) << "bytes " << from << " to " << from + n;
  };
  // Forward in steps of every size, sometimes releasing what was passed, twice over
  // (the second walk starts again at the beginning).
  for (int walk = 0; walk < 2; ++walk) {
    for (size_t at = 0; at < content.size();) {
      const size_t n = std::min<size_t>(content.size() - at, 1 + rng() % (walk == 0 ? 70'000 : 400'000));
      expectAt(at, n);
      // Sometimes the next range starts inside this one.
      at += rng() % 4 == 0 ? n / 2 : n;
      if (rng() % 3 == 0) view.ReleaseBefore(at);
    }
  }
  // Large copies, some over bytes the view holds and some beyond them.
  view.Ensure(1'000'000, 1'300'000);
  for (const auto& [from, n] : {std::pair<size_t, size_t>{900'000, 500'000}, {1'100'000, 100}, {0, 3'000'001},
                                {2'999'000, 1'001}, {1'299'999, 2}}) {
    Bytes out(n);
    view.CopyOut(from, out.data(), n);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin() + long(from))) << "copy of " << n << " from " << from;
  }
}

}  // namespace
