// Helpers shared by the tests of the tool: expected output text, scratch
// folders, file bytes, the in-process run, and the comparison of saved files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "console.h"
#include "levelbuilder.h"
#include "run.h"

namespace qmtest {

namespace fs = std::filesystem;

// The output's lines, without their CR LF.
inline std::vector<std::string> SplitLines(const std::string& out) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < out.size();) {
    const size_t end = out.find("\r\n", at);
    if (end == std::string::npos) break;
    lines.push_back(out.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// Each line ended with CR LF, as the tool writes them.
inline std::string Lines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}
inline const std::string kBanner = Lines({"Quillmap V 1.0 - March 2001", "", "Some nice tools for TR levels",
                                          "Type Quillmap /h for get full info.", ""});

// The report after the banner: version line and the 14 numbers in print order.
inline std::string ReportText(const std::string& version, const std::vector<int>& n) {
  const char* labels[] = {"Total Rooms:", "Total Textures pages:", "Total Textures:", "Total Animated Textures:",
                          "Total Items:", "Total Cameras:", "Total Boxes:", "Total Overlaps:",
                          "Total Statics meshes:", "Total spots lights   :", "Maximum Vertices used:",
                          "Maximum Rectangles used:", "Maximum Triangles used:", "Lara start a room:"};
  std::vector<std::string> lines = {"Loading Level...", "Level Version: " + version};
  for (size_t i = 0; i < 14; ++i) {
    if (i == 8) lines.push_back("Counting vertices & polygons, statics & lights...");
    lines.push_back(labels[i] + std::to_string(n.at(i)));
  }
  lines.insert(lines.end(), {"", "Done."});
  return Lines(lines);
}

inline Bytes ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void WriteBytes(const fs::path& p, const Bytes& b) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
inline uint32_t U16(const Bytes& b, size_t at) { return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8; }
inline uint32_t U32(const Bytes& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// A fresh folder under /tmp, removed with everything in it.
struct ScratchDir {
  ScratchDir() {
    char tmpl[] = "/tmp/qm_test_XXXXXX";
    if (mkdtemp(tmpl)) path = tmpl;
    EXPECT_FALSE(path.empty());
  }
  ~ScratchDir() {
    if (!path.empty()) fs::remove_all(path);
  }
  fs::path path;
};

// Runs the tool in-process on file, expecting the exit status; returns the
// output after the banner.
inline std::string RunOn(const fs::path& file, std::vector<std::string> args, int expectedStatus = 0) {
  args.insert(args.begin(), file.string());
  qm::TStringConsole console;
  EXPECT_EQ(qm::RunTool(args, console), expectedStatus);
  EXPECT_EQ(console.Text.substr(0, kBanner.size()), kBanner);
  return console.Text.substr(std::min(kBanner.size(), console.Text.size()));
}

// The parts of a level file that must match: the whole file for kinds 1-5;
// for the TR4 family the head, the unpacked content of each chunk (checked
// against its stated size) and the raw tail; for TR5 (kind 8) the head, the
// three unpacked page chunks and everything after them as it is.
inline std::vector<Bytes> Parts(const Bytes& f, int kind) {
  if (kind <= 5) return {f};
  std::vector<Bytes> parts = {Bytes(f.begin(), f.begin() + std::min<long>(10, long(f.size())))};
  size_t pos = 10;
  for (int k = 0; k < (kind == 8 ? 3 : 4); ++k) {
    if (pos + 8 > f.size() || pos + 8 + U32(f, pos + 4) > f.size()) return {f};  // not whole: differs anyway
    parts.push_back(Inflate(Bytes(f.begin() + long(pos) + 8, f.begin() + long(pos + 8 + U32(f, pos + 4)))));
    EXPECT_EQ(parts.back().size(), U32(f, pos)) << "chunk " << k + 1;
    pos += 8 + U32(f, pos + 4);
  }
  parts.emplace_back(f.begin() + long(pos), f.end());
  return parts;
}

// "" when the files match part by part; otherwise where they first differ.
inline std::string Diff(const Bytes& saved, const Bytes& expected, int kind) {
  const std::vector<Bytes> a = Parts(saved, kind), b = Parts(expected, kind);
  if (a.size() != b.size()) return "different structure";
  for (size_t i = 0; i < a.size(); ++i) {
    size_t at = 0;
    while (at < a[i].size() && at < b[i].size() && a[i][at] == b[i][at]) ++at;
    if (at < a[i].size() || at < b[i].size())
      return "part " + std::to_string(i) + ": sizes " + std::to_string(a[i].size()) + "/" +
             std::to_string(b[i].size()) + ", first difference at byte " + std::to_string(at);
  }
  return "";
}

}  // namespace qmtest
