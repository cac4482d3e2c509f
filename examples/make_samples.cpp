// Writes the bundled sample levels, one of each kind the examples use, into
// the directory named by the first argument.
#include <cstdio>
#include <fstream>
#include <string>

#include "levelbuilder.h"

namespace {

bool WriteFile(const std::string& path, const qmtest::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_samples <directory>\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  struct Sample {
    const char* name;
    int kind;
    bool wrapped;
  };
  const Sample samples[] = {
      {"sample_tr1.phd", 1, false},      {"sample_tub.tub", 2, false},
      {"sample_tr2.tr2", 3, false},      {"sample_tr3.tr2", 5, false},
      {"sample_tr4.tr4", 6, false},      {"sample_tr4_zlib.tr4", 6, true},
      {"sample_trc.trc", 7, false},
  };
  bool ok = true;
  for (const Sample& s : samples) {
    const qmtest::Bytes level = qmtest::Build(qmtest::SampleLevel(s.kind, 1));
    ok = WriteFile(dir + s.name, s.wrapped ? qmtest::WrapZlib(level) : level) && ok;
  }
  return ok ? 0 : 1;
}
