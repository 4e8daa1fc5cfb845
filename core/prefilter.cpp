#include "core/prefilter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "core/byte_frequency.h"
#include "core/lines.h"
#include "core/simd.h"
#include "text/codepage.h"

namespace velmora {
namespace {

constexpr unsigned kMaxForms = 4;  // case forms compared per byte in one step

// Relative costs that decide whether a filter's search pays: one pass of the
// search over a byte, against a candidate's check (line bounds, the full
// tests). The plain loop costs about kPlainLoop passes per byte.
constexpr double kPassCost = 1.0;
constexpr double kCandidateCost = 400.0;
constexpr double kPlainLoop = 7.0;
// The fixed table counts as this many bytes of log beside the samples.
constexpr double kPriorBytes = 4096.0;

struct Forms {
  std::array<unsigned char, kMaxForms> bytes{};
  unsigned count = 0;  // may exceed kMaxForms: then the byte is not searched for
  double frequency = 0;  // per byte of log
};

}  // namespace

std::unique_ptr<Prefilter> Prefilter::choose(const std::vector<Alternatives>& filters, const CodePage& cp,
                                             const std::vector<std::string_view>& samples) {
  auto pre = std::unique_ptr<Prefilter>(new Prefilter);
  pre->wide_ = simd::sse2();
  for (int b = 0; b < 256; ++b) pre->upper_[b] = cp.upperByte(static_cast<unsigned char>(b));
  // How often each byte stands in the log: counted in the samples, with the
  // fixed table as a prior worth kPriorBytes of log, so that a short sample
  // does not make a byte it happens to lack look absent.
  std::array<std::uint64_t, 256> counts{};
  std::uint64_t sampled = 0;
  for (std::string_view s : samples) {
    for (char c : s) ++counts[static_cast<unsigned char>(c)];
    sampled += s.size();
  }
  const double weight = 1.0 / (static_cast<double>(sampled) + kPriorBytes);
  // The bytes that upper-case to each byte: what a log may hold where a
  // pattern holds that byte.
  std::array<Forms, 256> forms;
  for (int b = 0; b < 256; ++b) {
    Forms& f = forms[pre->upper_[b]];
    if (f.count < kMaxForms) f.bytes[f.count] = static_cast<unsigned char>(b);
    ++f.count;
    const double prior = characterFrequency(cp.toUnit(static_cast<unsigned char>(b))) / 100000.0;
    f.frequency += (static_cast<double>(counts[b]) + kPriorBytes * prior) * weight;
  }

  double bestCost = std::numeric_limits<double>::max();
  std::vector<Needle> best;
  for (const Alternatives& filter : filters) {
    std::vector<Needle> needles;
    double rate = 0;
    bool usable = true;
    for (const Pattern& pattern : filter) {
      const std::string& p = pattern.bytes;
      // A pattern holding CR LF never lies inside a line; one holding a
      // byte that no log byte upper-cases to never matches at all.
      bool possible = p.find("\r\n") == std::string::npos;
      for (unsigned char c : p) possible = possible && forms[c].count > 0;
      if (!possible) continue;
      if (p.empty()) {
        usable = false;  // matches everywhere
        break;
      }
      Needle n;
      n.upper = p;
      n.fieldEnd = pattern.fieldEnd;
      auto rarest = [&](std::size_t skip) {
        std::size_t at = p.size();
        for (std::size_t i = 0; i < p.size(); ++i) {
          const Forms& f = forms[static_cast<unsigned char>(p[i])];
          if (i == skip || f.count > kMaxForms) continue;
          if (at == p.size() || f.frequency < forms[static_cast<unsigned char>(p[at])].frequency) at = i;
        }
        return at;
      };
      n.rare1 = rarest(p.size());
      if (n.rare1 == p.size()) {
        usable = false;  // every byte has too many case forms to search for
        break;
      }
      n.rare2 = rarest(n.rare1);
      if (n.rare2 == p.size()) n.rare2 = n.rare1;
      const Forms& f1 = forms[static_cast<unsigned char>(p[n.rare1])];
      const Forms& f2 = forms[static_cast<unsigned char>(p[n.rare2])];
      for (unsigned k = 0; k < kMaxForms; ++k) {
        n.forms1[k] = f1.bytes[k < f1.count ? k : 0];
        n.forms2[k] = f2.bytes[k < f2.count ? k : 0];
      }
      n.count1 = f1.count;
      n.count2 = f2.count;
      n.words1 = WordForms(n.forms1, n.count1);
      n.words2 = WordForms(n.forms2, n.count2);
      // The rate of places the search stops at: the two bytes taken as
      // independent, weighed as a prior against how often the pair
      // actually stands at its distance in the samples (letters of codes
      // and names come together, so the product misleads).
      const double guess = n.rare1 == n.rare2 ? f1.frequency : f1.frequency * f2.frequency;
      rate += (static_cast<double>(pairCount(n, samples)) + kPriorBytes * guess) * weight;
      needles.push_back(std::move(n));
    }
    if (!usable) continue;
    const double cost = kPassCost * static_cast<double>(needles.size()) + kCandidateCost * rate;
    if (cost < bestCost) {
      bestCost = cost;
      best = std::move(needles);
    }
  }
  if (bestCost >= kPlainLoop) return nullptr;
  pre->needles_ = std::move(best);
  return pre;
}

void Prefilter::begin(const char* to) {
  to_ = to;
  for (Needle& n : needles_) n.cachedFrom = nullptr;
}

bool Prefilter::matchesAt(const Needle& n, const char* at) const {
  const std::size_t len = n.upper.size();
  for (std::size_t i = 0; i < len; ++i) {
    if (upper_[static_cast<unsigned char>(at[i])] != static_cast<unsigned char>(n.upper[i])) return false;
  }
  if (!n.fieldEnd) return true;
  const char after = at[len];
  return after == ';' || after == '|' || after == '\r';
}

Prefilter::WordForms::WordForms(const std::array<unsigned char, 4>& forms, unsigned count) {
  const unsigned diff = count == 2 ? static_cast<unsigned>(forms[0] ^ forms[1]) : 0;
  single = count == 1 || (diff != 0 && (diff & (diff - 1)) == 0);
  bit = lines::broadcast(static_cast<unsigned char>(diff));
  for (unsigned k = 0; k < 4; ++k) {
    form[k] = lines::broadcast(single ? static_cast<unsigned char>(forms[0] | diff) : forms[k]);
  }
}

std::size_t Prefilter::pairCount(const Needle& n, const std::vector<std::string_view>& samples) {
  std::array<bool, 256> one{}, two{};
  for (unsigned k = 0; k < kMaxForms; ++k) {
    one[n.forms1[k]] = true;
    two[n.forms2[k]] = true;
  }
  std::size_t count = 0;
  const std::size_t reach = std::max(n.rare1, n.rare2);
  for (std::string_view s : samples) {
    for (std::size_t i = 0; i + reach < s.size(); ++i) {
      count += static_cast<std::size_t>(one[static_cast<unsigned char>(s[i + n.rare1])] && two[static_cast<unsigned char>(s[i + n.rare2])]);
    }
  }
  return count;
}

namespace {

// 0x80 in each byte of v that is one of the forms.
inline std::uint64_t formHits(const std::uint64_t v, const std::uint64_t* form, std::uint64_t bit, bool single,
                              unsigned count) {
  if (single) return lines::zeroBytes((v | bit) ^ form[0]);
  std::uint64_t hits = lines::zeroBytes(v ^ form[0]) | lines::zeroBytes(v ^ form[1]);
  if (count > 2) hits |= lines::zeroBytes(v ^ form[2]) | lines::zeroBytes(v ^ form[3]);
  return hits;
}

#if VELMORA_SSE2_CODE
// One rare byte's case forms, compared 16 bytes at a time. A single form,
// or two forms that differ in one bit (most letters of 1251 and 1252), take
// one compare after setting that bit; others (866's second half of the
// alphabet, Ё and ё in 1251, forms of more than two bytes) one per form.
class FormMatch {
 public:
  VELMORA_SSE2 FormMatch(const std::array<unsigned char, 4>& forms, unsigned count) {
    const unsigned diff = count == 2 ? static_cast<unsigned>(forms[0] ^ forms[1]) : 0;
    single_ = count == 1 || (diff != 0 && (diff & (diff - 1)) == 0);  // one bit, without a popcount call
    bit_ = _mm_set1_epi8(static_cast<char>(diff));
    for (unsigned k = 0; k < 4; ++k) {
      const unsigned char form = single_ ? static_cast<unsigned char>(forms[0] | diff) : forms[k];
      form_[k] = _mm_set1_epi8(static_cast<char>(form));
    }
  }
  bool single() const { return single_; }
  // Forms: 1 for a single compare, else the number of forms compared.
  template <unsigned Forms>
  VELMORA_SSE2 __m128i at(const char* p) const {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if constexpr (Forms == 1) return _mm_cmpeq_epi8(_mm_or_si128(v, bit_), form_[0]);
    __m128i m = _mm_cmpeq_epi8(v, form_[0]);
    for (unsigned k = 1; k < Forms; ++k) m = _mm_or_si128(m, _mm_cmpeq_epi8(v, form_[k]));
    return m;
  }

 private:
  bool single_ = false;
  __m128i bit_;
  __m128i form_[4];
};

template <unsigned Forms1, unsigned Forms2>
VELMORA_SSE2 inline __m128i bothAt(const char* q, std::size_t rare1, std::size_t rare2, const FormMatch& one,
                                   const FormMatch& two) {
  return _mm_and_si128(one.at<Forms1>(q + rare1), two.at<Forms2>(q + rare2));
}

// The first place in [p, last] whose two rare bytes match and whose whole
// pattern passes check, 64 places a step while 64 remain; nullptr with p
// moved to the first place not yet looked at.
template <unsigned Forms1, unsigned Forms2, class Check>
VELMORA_SSE2 const char* scanPairs(const char*& p, const char* last, std::size_t rare1, std::size_t rare2,
                                   const FormMatch& one, const FormMatch& two, Check&& check) {
  while (last - p >= 63) {
    const __m128i m0 = bothAt<Forms1, Forms2>(p, rare1, rare2, one, two);
    const __m128i m1 = bothAt<Forms1, Forms2>(p + 16, rare1, rare2, one, two);
    const __m128i m2 = bothAt<Forms1, Forms2>(p + 32, rare1, rare2, one, two);
    const __m128i m3 = bothAt<Forms1, Forms2>(p + 48, rare1, rare2, one, two);
    const __m128i any = _mm_or_si128(_mm_or_si128(m0, m1), _mm_or_si128(m2, m3));
    if (_mm_movemask_epi8(any) != 0) {
      const std::uint64_t bits = static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m0))) |
                                 static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m1))) << 16 |
                                 static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m2))) << 32 |
                                 static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m3))) << 48;
      for (std::uint64_t rest = bits; rest != 0; rest &= rest - 1) {
        const char* at = p + std::countr_zero(rest);
        if (check(at)) return at;
      }
    }
    p += 64;
  }
  return nullptr;
}

template <class Check>
VELMORA_SSE2 const char* scanPairsSse2(const char*& p, const char* last, std::size_t rare1, std::size_t rare2,
                                       const std::array<unsigned char, 4>& forms1, unsigned count1,
                                       const std::array<unsigned char, 4>& forms2, unsigned count2, Check&& check) {
  const FormMatch one(forms1, count1), two(forms2, count2);
  // The common shapes get loops of their own; the rest compare four forms.
  if (one.single() && two.single()) return scanPairs<1, 1>(p, last, rare1, rare2, one, two, check);
  if (count1 <= 2 && count2 <= 2) {
    if (one.single()) return scanPairs<1, 2>(p, last, rare1, rare2, one, two, check);
    if (two.single()) return scanPairs<2, 1>(p, last, rare1, rare2, one, two, check);
    return scanPairs<2, 2>(p, last, rare1, rare2, one, two, check);
  }
  if (one.single()) return scanPairs<1, 4>(p, last, rare1, rare2, one, two, check);
  if (two.single()) return scanPairs<4, 1>(p, last, rare1, rare2, one, two, check);
  return scanPairs<4, 4>(p, last, rare1, rare2, one, two, check);
}
#endif

}  // namespace

const char* Prefilter::search(const Needle& n, const char* from) const {
  const std::size_t len = n.upper.size();
  if (to_ < from || static_cast<std::size_t>(to_ - from) < len) return nullptr;
  const char* const last = to_ - len;  // the last place a match may start
  const char* p = from;
  auto check = [&](const char* at) { return matchesAt(n, at); };
#if VELMORA_SSE2_CODE
  // The loads reach at most last + 63 - 63 + rare + 15 < to_.
  if (wide_) {
    const char* hit = scanPairsSse2(p, last, n.rare1, n.rare2, n.forms1, n.count1, n.forms2, n.count2, check);
    if (hit != nullptr) return hit;
  }
#endif
  // The rest (or everything, without SSE2): eight places a step, the two
  // rare bytes tested in 64-bit words. The loads reach at most
  // last - 7 + rare + 7 < to_.
  const WordForms& w1 = n.words1;
  const WordForms& w2 = n.words2;
  const unsigned c1 = n.count1 < kMaxForms ? n.count1 : kMaxForms;
  const unsigned c2 = n.count2 < kMaxForms ? n.count2 : kMaxForms;
  while (last - p >= 7) {
    std::uint64_t hits = formHits(lines::loadWord(p + n.rare1), w1.form, w1.bit, w1.single, c1);
    if (hits != 0) hits &= formHits(lines::loadWord(p + n.rare2), w2.form, w2.bit, w2.single, c2);
    for (; hits != 0; hits &= hits - 1) {
      const char* at = p + std::countr_zero(hits) / 8;
      if (check(at)) return at;
    }
    p += 8;
  }
  const auto rare = static_cast<unsigned char>(n.upper[n.rare1]);
  for (; p <= last; ++p) {
    if (upper_[static_cast<unsigned char>(p[n.rare1])] == rare && check(p)) return p;
  }
  return nullptr;
}

void Prefilter::useWideSteps(bool on) { wide_ = on && simd::sse2Available(); }

const char* Prefilter::next(const char* from) {
  const char* first = nullptr;
  for (Needle& n : needles_) {
    const bool valid = n.cachedFrom != nullptr && n.cachedFrom <= from && (n.cached == nullptr || n.cached >= from);
    if (!valid) {
      n.cached = search(n, from);
      n.cachedFrom = from;
    }
    // Of two patterns at one place the shorter decides whether it lies
    // inside a line.
    if (n.cached != nullptr &&
        (first == nullptr || n.cached < first || (n.cached == first && n.upper.size() < matchLength_))) {
      first = n.cached;
      matchLength_ = n.upper.size();
    }
  }
  return first;
}

Prefilter::Choice Prefilter::choice() const {
  Choice c{needles_.size(), {}, {}};
  for (const Needle& n : needles_) {
    c.rare1.push_back(n.rare1);
    c.rare2.push_back(n.rare2);
  }
  return c;
}

}  // namespace velmora
