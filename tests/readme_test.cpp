// The README's examples, run from the README's own text: every "```console"
// block is a session of "$ " command lines, each followed by the output it
// shows. The commands run one after another in a fresh folder that holds a copy
// of examples/levels, with the built quillmap first on PATH, so what the README
// shows is what a user who types them sees. The banner may be left out of a
// shown output (the README shows it once); line ends compare as LF.
#include <fstream>
#include <sstream>

#include "binary_run.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

struct Example {
  std::string command;  // without the "$ " prompt
  std::string output;   // the lines shown under it, each ended with LF
};

// The sessions of the ```console blocks, in README order.
std::vector<std::vector<Example>> ConsoleSessions(const std::string& text) {
  std::vector<std::vector<Example>> sessions;
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!inside) {
      if (line == "```console") {
        inside = true;
        sessions.emplace_back();
      }
      continue;
    }
    if (line == "```") {
      inside = false;
    } else if (line.rfind("$ ", 0) == 0) {
      sessions.back().push_back({line.substr(2), ""});
    } else {
      EXPECT_FALSE(sessions.back().empty()) << "output before the first command: " << line;
      if (!sessions.back().empty()) sessions.back().back().output += line + "\n";
    }
  }
  EXPECT_FALSE(inside) << "a console block is not closed";
  return sessions;
}

std::string WithoutCarriageReturns(std::string s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
  return out;
}

TEST(Readme, EveryExampleRunsAsShown) {
  std::ifstream file(fs::path(QM_SOURCE_DIR) / "README.md", std::ios::binary);
  ASSERT_TRUE(file) << "README.md not found";
  const std::string text((std::istreambuf_iterator<char>(file)), {});
  const std::vector<std::vector<Example>> sessions = ConsoleSessions(text);
  size_t commands = 0;
  for (const auto& session : sessions) commands += session.size();
  ASSERT_GE(commands, 10u) << "the README's examples were not found";

  const std::string banner = WithoutCarriageReturns(kBanner);
  const std::string path = fs::path(QM_TOOL_PATH).parent_path().string() + ":/usr/bin:/bin";
  for (const auto& session : sessions) {
    ScratchDir scratch;
    fs::create_directories(scratch.path / "examples");
    fs::copy(fs::path(QM_SOURCE_DIR) / "examples" / "levels", scratch.path / "examples" / "levels");
    for (const Example& example : session) {
      SCOPED_TRACE("$ " + example.command);
      const BinaryRun run = RunBinary(scratch.path, "sh", {"-c", "PATH=" + ShellQuote(path) + "; " + example.command});
      std::string shown = WithoutCarriageReturns(run.out);
      if (example.output.rfind(banner, 0) != 0 && shown.rfind(banner, 0) == 0) shown.erase(0, banner.size());
      EXPECT_EQ(shown, example.output);
      EXPECT_EQ(run.err, "");
    }
  }
}

}  // namespace
