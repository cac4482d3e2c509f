// Test-only writer of floor data words from a description of a sector's
// entries, laid out as the level format describes them. It shares nothing with
// the tool's reader.
//
// An entry is a setup word (function in bits 0-4, sub-function in bits 8-14,
// bit 15 on the sector's last entry) and its words. A trigger's words are the
// trigger word (timer bits 0-7, one-shot bit 8, mask bits 9-13), then its
// actions (parameter bits 0-9, action bits 10-14, bit 15 on the last word of
// the list; a camera or flyby action writes its second word, which carries
// that bit).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace qmtest {

struct BAction {
  uint8_t action = 0;
  uint16_t param = 0;
  std::optional<uint16_t> extra;  // the second word of a camera or flyby action
};

struct BTrigger {
  uint8_t type = 0;
  uint8_t timer = 0;
  bool once = false;
  uint8_t mask = 0x1F;
  std::vector<BAction> actions;
  bool lastBit = true;  // false: no action word carries the end-of-list bit (damage)
};

struct BFloorEntry {
  uint8_t function = 0;
  uint8_t sub = 0;
  uint16_t setupHigh = 0;       // bits 5-7 and the triangles' height bits (5-14) or'ed into the setup word
  std::vector<uint16_t> words;  // the words after the setup word (not for a trigger)
  std::optional<BTrigger> trigger;
};

// Appends one sector's entries to floorData (which starts with its unused
// word 0 when empty) and returns the index of the first. endBit false leaves
// the last entry without its end bit (damage).
inline uint16_t AppendFloor(std::vector<uint16_t>& fd, const std::vector<BFloorEntry>& entries, bool endBit = true) {
  if (fd.empty()) fd.push_back(0);
  const uint16_t first = uint16_t(fd.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const BFloorEntry& e = entries[i];
    uint16_t setup = uint16_t(e.function | (e.sub << 8) | e.setupHigh);
    if (endBit && i + 1 == entries.size()) setup |= 0x8000;
    fd.push_back(setup);
    if (!e.trigger) {
      fd.insert(fd.end(), e.words.begin(), e.words.end());
      continue;
    }
    const BTrigger& t = *e.trigger;
    fd.push_back(uint16_t(t.timer | (t.once ? 0x100 : 0) | (t.mask << 9)));
    for (size_t k = 0; k < t.actions.size(); ++k) {
      const BAction& a = t.actions[k];
      const bool last = t.lastBit && k + 1 == t.actions.size();
      fd.push_back(uint16_t(a.param | (a.action << 10) | (last && !a.extra ? 0x8000 : 0)));
      if (a.extra) fd.push_back(uint16_t(*a.extra | (last ? 0x8000 : 0)));
    }
  }
  return first;
}

// Sets a sector's floor data index (bytes 0-1 of its 8 bytes).
template <class Sector>
void SetFloorIndex(Sector& sector, uint16_t index) {
  sector[0] = uint8_t(index);
  sector[1] = uint8_t(index >> 8);
}

}  // namespace qmtest
