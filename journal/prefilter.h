// The prefilter of the record loops: before a window is cut into lines, it
// is searched for the items of one filter that accepts (not inverted). A
// record that passes that filter holds one of its items, so a line without
// any can be passed over uncut, and a window without any is passed over
// whole. Every line the prefilter points at is still tested in full.
//
// The search looks for the two rarest bytes of an item at their distance
// (16 places at a time where SSE2 is available, memchr otherwise), then
// compares the whole item. Matching ignores letter case as the filters do:
// through the code page's upper-casing table, never by flipping a bit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class CodePage;

class Prefilter {
 public:
  // One item as log bytes in upper case. fieldEnd: a whole field value,
  // so that the byte after it must be ";" (the next field), "|" (a value
  // that spans items of an exact list) or CR (the end of the line).
  struct Pattern {
    std::string bytes;
    bool fieldEnd = false;
  };
  // The patterns of one filter: a record that passes it holds one of them.
  using Alternatives = std::vector<Pattern>;

  // Chooses the filter whose patterns are rarest; nullptr when none is
  // rare enough to pay for the search. A filter without patterns passes no
  // record: every window is then passed over.
  static std::unique_ptr<Prefilter> choose(const std::vector<Alternatives>& filters, const CodePage& cp);

  // Starts a search of a window's bytes up to to: matches lie wholly before
  // it, and the byte at to is readable (the CR of the window's last line).
  void begin(const char* to);
  // The first match that starts at or after from, or nullptr.
  const char* next(const char* from);
  // The length of the pattern of the last match that next() returned.
  std::size_t matchLength() const { return matchLength_; }

  // Where SSE2 is available the search takes 64 places a step with it; the
  // 32-bit Windows build has none and searches with memchr alone. Tests
  // switch the wide steps off to hold both searches to the same results.
  void useWideSteps(bool on) { wide_ = on; }

  // For tests: which pattern the chooser took, and at which two places.
  struct Choice {
    std::size_t patterns;
    std::vector<std::size_t> rare1, rare2;
  };
  Choice choice() const;

 private:
  // One pattern and the way it is searched.
  struct Needle {
    std::string upper;  // the pattern's bytes
    bool fieldEnd = false;
    std::size_t rare1 = 0, rare2 = 0;                // offsets of the two rarest bytes
    std::array<unsigned char, 4> forms1{}, forms2{};  // their case forms (a form repeats when there are fewer)
    unsigned count1 = 0, count2 = 0;
    const char* cached = nullptr;  // the next match found, valid while cachedFrom <= the asked position
    const char* cachedFrom = nullptr;
  };

  bool matchesAt(const Needle& n, const char* at) const;
  const char* search(const Needle& n, const char* from) const;

  std::array<unsigned char, 256> upper_{};
  std::vector<Needle> needles_;
  const char* to_ = nullptr;
  std::size_t matchLength_ = 0;
  bool wide_ = true;
};

}  // namespace velmora
