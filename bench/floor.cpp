// The floor of loading and saving a level: the least work any program must do.
//   qm_floor load FILE        read the file in one go; TR4-family files also
//                             inflate their four chunks, one after another
//   qm_floor save FILE        load, then (TR4 family) deflate every chunk at
//                             level 9 one after another, and write the file
//                             once (to a temporary file renamed over FILE)
//   qm_floor save-fsync FILE  as save, with fsync before the rename
//   qm_floor edit FILE        the floor of a room edit of a TR4-family level:
//                             read the file, inflate the level data chunk,
//                             deflate it at level 9 and write the file once
//                             with the other chunks as they were read
//   qm_floor edit-fsync FILE  as edit, with fsync before the rename
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A block whose bytes are not zeroed first: the floor pays only for the pages
// it really fills.
struct Bytes {
  std::unique_ptr<uint8_t[]> p;
  size_t n = 0;
  Bytes() = default;
  explicit Bytes(size_t size) : p(std::make_unique_for_overwrite<uint8_t[]>(size)), n(size) {}
  uint8_t* data() const { return p.get(); }
};

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

Bytes ReadFile(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY);
  struct stat st;
  Check(fd >= 0 && ::fstat(fd, &st) == 0, "cannot open " + name);
  Bytes b(size_t(st.st_size));
  for (ssize_t got, done = 0; size_t(done) < b.n; done += got)
    Check((got = ::read(fd, b.data() + done, b.n - size_t(done))) > 0, "cannot read " + name);
  ::close(fd);
  return b;
}

Bytes Inflate(const uint8_t* in, size_t n, size_t unpacked) {
  Bytes out(unpacked);
  z_stream z{};
  Check(inflateInit(&z) == Z_OK, "inflateInit");
  z.next_in = const_cast<Bytef*>(in), z.avail_in = uInt(n);
  z.next_out = out.data(), z.avail_out = uInt(unpacked);
  const int rc = inflate(&z, Z_FINISH);
  inflateEnd(&z);
  Check(rc == Z_STREAM_END && z.total_out == unpacked, "corrupt chunk");
  return out;
}

Bytes Deflate(const Bytes& in) {
  z_stream z{};
  Check(deflateInit2(&z, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) == Z_OK, "deflateInit2");
  Bytes out(deflateBound(&z, uLong(in.n)));
  z.next_in = in.data(), z.avail_in = uInt(in.n);
  z.next_out = out.data(), z.avail_out = uInt(out.n);
  const int rc = deflate(&z, Z_FINISH);
  out.n = z.total_out;
  deflateEnd(&z);
  Check(rc == Z_STREAM_END, "deflate");
  return out;
}

void WriteParts(const std::string& name, const std::vector<std::pair<const uint8_t*, size_t>>& parts, bool sync) {
  const std::string temp = name + ".qmfloor";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Check(fd >= 0, "cannot create " + temp);
  for (auto [p, n] : parts)
    for (ssize_t put; n > 0; p += put, n -= size_t(put)) Check((put = ::write(fd, p, n)) > 0, "cannot write " + temp);
  Check(!(sync && ::fsync(fd) != 0) && ::close(fd) == 0 && ::rename(temp.c_str(), name.c_str()) == 0,
        "cannot store " + name);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  const bool edit = mode == "edit" || mode == "edit-fsync";
  if (mode != "load" && mode != "save" && mode != "save-fsync" && !edit)
    return std::fprintf(stderr, "usage: qm_floor load|save|save-fsync|edit|edit-fsync FILE\n"), 2;
  try {
    const std::string name = argv[2];
    const Bytes file = ReadFile(name);
    const uint8_t* f = file.data();
    std::vector<std::pair<const uint8_t*, size_t>> parts{{f, file.n}};
    Bytes unpacked[4], packed[4];
    uint32_t sizes[4][2];  // written as they are: a little-endian host
    if (const uint32_t sig = file.n >= 4 ? U32(f) : 0; sig == 0x00345254u || sig == 0xFFFFFFF0u) {
      // Signature, three page counts, then four chunks: unpacked size, packed size, stream.
      size_t at = 10;
      size_t starts[4];
      for (int c = 0; c < 4; at += 8 + sizes[c][1], ++c) {
        Check(at + 8 <= file.n && U32(f + at + 4) <= file.n - at - 8, "truncated");
        starts[c] = at;
        sizes[c][0] = U32(f + at), sizes[c][1] = U32(f + at + 4);
        if (!edit || c == 3) unpacked[c] = Inflate(f + at + 8, sizes[c][1], sizes[c][0]);
      }
      parts = {{f, edit ? starts[3] : 10}};
      for (int c = edit ? 3 : 0; c < 4 && mode != "load"; ++c) {
        packed[c] = Deflate(unpacked[c]);
        sizes[c][1] = uint32_t(packed[c].n);
        parts.insert(parts.end(), {{reinterpret_cast<uint8_t*>(sizes[c]), 8}, {packed[c].data(), packed[c].n}});
      }
      parts.emplace_back(f + at, file.n - at);
    }
    if (mode != "load") WriteParts(name, parts, mode == "save-fsync" || mode == "edit-fsync");
  } catch (const std::exception& e) {
    return std::fprintf(stderr, "qm_floor: %s\n", e.what()), 1;
  }
  return 0;
}
