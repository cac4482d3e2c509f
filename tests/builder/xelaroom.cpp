// Real TR5 rooms ("XELA" blocks), laid out from the published byte layout of
// genuine TR5 levels: a 208-byte header after the mark and the size, offsets
// counted from the data area D (216 bytes after the mark), and the data area
// in the order lights, fog bulbs, sectors, portals, statics, layers, faces,
// vertices. Filler fields hold the values seen in real files.
#include <cstring>

#include "levelbuilder.h"

namespace qmtest {

namespace {

constexpr size_t kHeader = 216;  // "XELA", size, 208 header bytes
constexpr uint32_t kFill = 0xCDCDCDCDu;

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}
void PutFloat(Bytes& b, size_t at, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  Put32(b, at, v);
}
uint32_t Pick(const std::optional<int64_t>& chosen, size_t real) {
  return static_cast<uint32_t>(chosen ? static_cast<uint64_t>(*chosen) : real);
}
template <size_t N>
void Append(Bytes& b, const std::array<uint8_t, N>& a) {
  b.insert(b.end(), a.begin(), a.end());
}
void Append16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

Bytes BuildXelaRoom(const B5Room& r, std::map<std::string, size_t>* marks) {
  auto mark = [&](const std::string& name, size_t at) {
    if (marks) (*marks)[name] = at;
  };
  if (r.sectors.size() != size_t{r.sectorsZ} * r.sectorsX)
    throw std::invalid_argument("level description: XELA room sectors do not fill its grid");

  // The data area, piece by piece, with D-relative starts.
  Bytes d;
  const size_t lightStart = d.size();
  for (const auto& x : r.lights) Append(d, x);
  const size_t fogStart = d.size();
  for (const auto& x : r.fogBulbs) Append(d, x);
  const size_t sectorStart = d.size();
  for (const auto& x : r.sectors) Append(d, x);
  const size_t sectorEnd = d.size();
  Append16(d, static_cast<uint16_t>(r.portals.size()));
  for (const auto& x : r.portals) Append(d, x);
  Append16(d, 0xCDCD);
  const size_t portalEnd = d.size();
  for (const auto& x : r.statics) Append(d, x);
  const size_t layerStart = d.size();
  std::vector<size_t> layerAt;
  for (size_t j = 0; j < r.layers.size(); ++j) {
    layerAt.push_back(d.size());
    d.resize(d.size() + 56, 0);
  }
  const size_t faceStart = d.size();
  std::vector<std::pair<size_t, size_t>> faceAt;  // rectangles, triangles of each layer
  size_t rectangles = 0, triangles = 0, vertices = 0;
  for (const B5Layer& layer : r.layers) {
    faceAt.push_back({d.size(), 0});
    for (const B5Rectangle& f : layer.rectangles) {
      for (uint16_t v : f.vertices) Append16(d, v);
      Append16(d, f.texture);
      Append16(d, f.effects);
    }
    faceAt.back().second = d.size();
    for (const B5Triangle& f : layer.triangles) {
      for (uint16_t v : f.vertices) Append16(d, v);
      Append16(d, f.texture);
      Append16(d, f.effects);
    }
    rectangles += layer.rectangles.size();
    triangles += layer.triangles.size();
  }
  if ((d.size() - faceStart) % 4 != 0) Append16(d, 0xCDCD);
  const size_t vertexStart = d.size();
  for (const B5Layer& layer : r.layers) {
    for (const auto& v : layer.vertices) Append(d, v);
    vertices += layer.vertices.size();
  }
  const size_t vertexBytes = d.size() - vertexStart;
  const B5RoomOverrides& c = r.counts;

  // Each layer record: counts, bounding box, then 0 and the header's starts.
  for (size_t j = 0; j < r.layers.size(); ++j) {
    const B5Layer& layer = r.layers[j];
    const size_t at = layerAt[j];
    Put16(d, at, static_cast<uint16_t>(Pick(layer.vertexCount, layer.vertices.size())));
    Put16(d, at + 6, static_cast<uint16_t>(Pick(layer.rectangleCount, layer.rectangles.size())));
    Put16(d, at + 8, static_cast<uint16_t>(Pick(layer.triangleCount, layer.triangles.size())));
    std::memcpy(d.data() + at + 16, layer.boundingBox.data(), 24);
    Put32(d, at + 44, Pick(c.vertexStart, vertexStart));
    Put32(d, at + 48, Pick(c.faceStart, faceStart));
    Put32(d, at + 52, Pick(c.faceStart, faceStart));
  }

  Bytes b(kHeader, 0);
  const std::array<uint8_t, 4> xela{'X', 'E', 'L', 'A'};
  std::memcpy(b.data(), (c.mark ? *c.mark : xela).data(), 4);
  Put32(b, 4, Pick(c.size, 208 + vertexStart + vertexBytes));
  Put32(b, 8, kFill);
  Put32(b, 12, Pick(c.sectorEnd, sectorEnd));
  Put32(b, 16, Pick(c.sectorStart, sectorStart));
  Put32(b, 20, kFill);
  Put32(b, 24, Pick(c.portalEnd, portalEnd));
  for (size_t i = 0; i < 5; ++i) Put32(b, 28 + 4 * i, static_cast<uint32_t>(r.info[i]));
  Put16(b, 48, static_cast<uint16_t>(Pick(c.sectorsZ, r.sectorsZ)));
  Put16(b, 50, static_cast<uint16_t>(Pick(c.sectorsX, r.sectorsX)));
  Put32(b, 52, r.colour);
  Put16(b, 56, static_cast<uint16_t>(Pick(c.lights, r.lights.size())));
  Put16(b, 58, static_cast<uint16_t>(Pick(c.statics, r.statics.size())));
  b[60] = r.reverb;
  b[61] = r.alternateGroup;
  b[62] = r.waterScheme;
  Put32(b, 64, 0x7FFF);
  Put32(b, 68, 0x7FFF);
  Put32(b, 72, kFill);
  Put32(b, 76, kFill);
  Put32(b, 80, 0xFFFFFFFFu);
  Put16(b, 84, static_cast<uint16_t>(r.alternateRoom));
  Put16(b, 86, r.flags);
  Put32(b, 88, 0x0000FFFFu);
  Put32(b, 100, kFill);
  PutFloat(b, 108, static_cast<float>(r.info[0]));
  PutFloat(b, 116, static_cast<float>(r.info[2]));
  for (size_t i = 0; i < 4; ++i) Put32(b, 120 + 4 * i, kFill);
  Put32(b, 140, kFill);
  Put32(b, 144, static_cast<uint32_t>(triangles));
  Put32(b, 148, static_cast<uint32_t>(rectangles));
  Put32(b, 152, Pick(c.lightStart, lightStart));
  Put32(b, 156, Pick(c.fogStart, fogStart));
  Put32(b, 160, static_cast<uint32_t>(r.lights.size()));
  Put32(b, 164, Pick(c.fogBulbs, r.fogBulbs.size()));
  PutFloat(b, 168, static_cast<float>(r.info[4]));
  PutFloat(b, 172, static_cast<float>(r.info[3]));
  Put32(b, 176, Pick(c.layers, r.layers.size()));
  Put32(b, 180, Pick(c.layerStart, layerStart));
  Put32(b, 184, Pick(c.vertexStart, vertexStart));
  Put32(b, 188, Pick(c.faceStart, faceStart));
  Put32(b, 192, Pick(c.faceStart, faceStart));
  Put32(b, 196, Pick(c.vertexBytes, vertexBytes));
  for (size_t i = 0; i < 4; ++i) Put32(b, 200 + 4 * i, kFill);

  const std::pair<const char*, size_t> header[] = {
      {"size", 4},           {"sectorStart", 16},  {"colour", 52},     {"lights.count", 56},
      {"statics.count", 58}, {"alternateRoom", 84}, {"flags", 86},     {"layers.count", 176},
      {"layerStart", 180},   {"vertexStart", 184}, {"faceStart", 188}, {"data", kHeader}};
  for (const auto& [name, at] : header) mark(name, at);
  mark("lights", kHeader + lightStart);
  mark("fogBulbs", kHeader + fogStart);
  mark("sectors", kHeader + sectorStart);
  mark("portals.count", kHeader + sectorEnd);
  mark("statics", kHeader + portalEnd);
  mark("layers", kHeader + layerStart);
  for (size_t j = 0; j < r.layers.size(); ++j) {
    const std::string p = "layer" + std::to_string(j);
    mark(p, kHeader + layerAt[j]);
    mark(p + ".rectangles", kHeader + faceAt[j].first);
    mark(p + ".triangles", kHeader + faceAt[j].second);
  }
  mark("vertices", kHeader + vertexStart);
  mark("end", kHeader + d.size());
  b.insert(b.end(), d.begin(), d.end());
  return b;
}

Bytes Tr5SampleBlock(const std::vector<Bytes>& samples) {
  Bytes b;
  auto put32 = [&](size_t v) {
    for (int s = 0; s < 32; s += 8) b.push_back(static_cast<uint8_t>(v >> s));
  };
  put32(samples.size());
  for (const Bytes& s : samples) {
    put32(s.size() * 4);  // the decoded length is larger than the stored one
    put32(s.size());
    b.insert(b.end(), s.begin(), s.end());
  }
  return b;
}

}  // namespace qmtest
