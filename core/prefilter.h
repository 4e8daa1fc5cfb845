// The prefilter of the record loops: before a window is cut into lines, it
// is searched for the items of one filter that accepts (not inverted). A
// record that passes that filter holds one of its items, so a line without
// any can be passed over uncut, and a window without any is passed over
// whole. Every line the prefilter points at is still tested in full.
//
// The search looks for the two rarest bytes of an item at their distance
// (64 places a step with SSE2 where the processor has it, 8 a step in
// 64-bit words otherwise), then compares the whole item. Which bytes are
// rare is counted in samples of the log being read, with a fixed table of
// typical frequencies as the prior. Matching ignores letter case as the
// filters do: through the code page's upper-casing table, never by
// flipping a bit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

  // Chooses the filter whose patterns are rarest in samples of the log
  // (none: the fixed table alone); nullptr when none is rare enough to pay
  // for the search. A filter without patterns passes no record: every
  // window is then passed over.
  static std::unique_ptr<Prefilter> choose(const std::vector<Alternatives>& filters, const CodePage& cp,
                                           const std::vector<std::string_view>& samples = {});

  // Starts a search of a window's bytes up to to: matches lie wholly before
  // it, and the byte at to is readable (the CR of the window's last line).
  void begin(const char* to);
  // The first match that starts at or after from, or nullptr.
  const char* next(const char* from);
  // The length of the pattern of the last match that next() returned.
  std::size_t matchLength() const { return matchLength_; }

  // Where the processor has SSE2 the search takes 64 places a step with it,
  // else 8 in words. Tests switch the wide steps off to hold both searches
  // to the same results.
  void useWideSteps(bool on);

  // For tests: which pattern the chooser took, and at which two places.
  struct Choice {
    std::size_t patterns;
    std::vector<std::size_t> rare1, rare2;
  };
  Choice choice() const;

 private:
  // One rare byte's case forms, each repeated in a 64-bit word. A single
  // form, or two that differ in one bit, take one compare after setting it.
  struct WordForms {
    WordForms() = default;
    WordForms(const std::array<unsigned char, 4>& forms, unsigned count);
    std::uint64_t form[4] = {};
    std::uint64_t bit = 0;
    bool single = true;
  };
  // One pattern and the way it is searched.
  struct Needle {
    std::string upper;  // the pattern's bytes
    bool fieldEnd = false;
    std::size_t rare1 = 0, rare2 = 0;                // offsets of the two rarest bytes
    std::array<unsigned char, 4> forms1{}, forms2{};  // their case forms (a form repeats when there are fewer)
    unsigned count1 = 0, count2 = 0;
    WordForms words1, words2;
    const char* cached = nullptr;  // the next match found, valid while cachedFrom <= the asked position
    const char* cachedFrom = nullptr;
  };

  // The places in the samples where the two rare bytes stand at their distance.
  static std::size_t pairCount(const Needle& n, const std::vector<std::string_view>& samples);
  bool matchesAt(const Needle& n, const char* at) const;
  const char* search(const Needle& n, const char* from) const;

  std::array<unsigned char, 256> upper_{};
  std::vector<Needle> needles_;
  const char* to_ = nullptr;
  std::size_t matchLength_ = 0;
  bool wide_ = true;
};

}  // namespace velmora
