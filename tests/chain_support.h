// What a chain of functions must say: the output of its functions run one by
// one, joined as one run joins them.
#pragma once

#include <algorithm>

#include "tool_test_support.h"

namespace qmtest {

using TCall = std::vector<std::string>;

inline const std::string kLoading = "Loading Level...", kSaving = "Saving the level...", kDone = "Done.";

inline TCall Joined(const std::vector<TCall>& calls) {
  TCall words;
  for (const TCall& call : calls) words.insert(words.end(), call.begin(), call.end());
  return words;
}

inline bool Edits(const TCall& call) {
  static const std::vector<std::string> edits = {"/Water", "/Sky", "/QuickSand", "/Lara_Light", "/Step_sound",
                                                 "/Replace_sound", "/Room_Colour", "/Room_Color", "/Flag", "/Flood",
                                                 "/Drain", "/Textures", "/ImportPage", "/MoveItem", "/SetItem",
                                                 "/ItemFlags", "/AddItem"};
  return std::find(edits.begin(), edits.end(), call[0]) != edits.end();
}

// The output a chain must give: "Loading Level..." once, then what each
// function says after loading when it runs alone on the level as the
// functions before it left it, without the save's lines and without the
// closing "Done."; the save's line once at the end, and "Done." once, last.
inline std::string ExpectedChainOutput(const std::vector<TCall>& calls, const std::vector<std::string>& singleOutputs) {
  std::vector<std::string> lines = {kLoading};
  bool edits = false;
  for (size_t i = 0; i < calls.size(); ++i) {
    std::vector<std::string> own = SplitLines(singleOutputs[i]);
    EXPECT_TRUE(!own.empty() && own.front() == kLoading) << singleOutputs[i];
    if (own.empty()) continue;
    own.erase(own.begin());
    if (Edits(calls[i])) std::erase(own, kSaving);
    edits = edits || Edits(calls[i]);
    EXPECT_TRUE(!own.empty() && own.back() == kDone) << singleOutputs[i];
    if (!own.empty()) own.pop_back();
    lines.insert(lines.end(), own.begin(), own.end());
  }
  if (edits) lines.push_back(kSaving);
  lines.push_back(kDone);
  return Lines(lines);
}

}  // namespace qmtest
