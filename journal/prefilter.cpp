#include "journal/prefilter.h"

#include <bit>
#include <cstring>
#include <limits>

#include "journal/byte_frequency.h"
#include "text/codepage.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace velmora {
namespace {

constexpr unsigned kMaxForms = 4;  // case forms compared per byte in one step

// Relative costs that decide whether a filter's search pays: one pass of the
// search over a byte, against a candidate's check (line bounds, the full
// tests). The plain loop costs about kPlainLoop passes per byte.
constexpr double kPassCost = 1.0;
constexpr double kCandidateCost = 400.0;
constexpr double kPlainLoop = 7.0;

struct Forms {
  std::array<unsigned char, kMaxForms> bytes{};
  unsigned count = 0;  // may exceed kMaxForms: then the byte is not searched for
  double frequency = 0;  // per byte of log
};

}  // namespace

std::unique_ptr<Prefilter> Prefilter::choose(const std::vector<Alternatives>& filters, const CodePage& cp) {
  auto pre = std::unique_ptr<Prefilter>(new Prefilter);
  for (int b = 0; b < 256; ++b) pre->upper_[b] = cp.upperByte(static_cast<unsigned char>(b));
  // The bytes that upper-case to each byte: what a log may hold where a
  // pattern holds that byte.
  std::array<Forms, 256> forms;
  for (int b = 0; b < 256; ++b) {
    Forms& f = forms[pre->upper_[b]];
    if (f.count < kMaxForms) f.bytes[f.count] = static_cast<unsigned char>(b);
    ++f.count;
    f.frequency += characterFrequency(cp.toUnit(static_cast<unsigned char>(b))) / 100000.0;
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
      rate += n.rare1 == n.rare2 ? f1.frequency : f1.frequency * f2.frequency;
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

namespace {

#ifdef __SSE2__
// One rare byte's case forms, compared 16 bytes at a time. A single form,
// or two forms that differ in one bit (most letters of 1251 and 1252), take
// one compare after setting that bit; others (866's second half of the
// alphabet, Ё and ё in 1251, forms of more than two bytes) one per form.
class FormMatch {
 public:
  FormMatch(const std::array<unsigned char, 4>& forms, unsigned count) {
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
  __m128i at(const char* p) const {
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

// The first place in [p, last] whose two rare bytes match and whose whole
// pattern passes check, 64 places a step while 64 remain; nullptr with p
// moved to the first place not yet looked at.
template <unsigned Forms1, unsigned Forms2, class Check>
const char* scanPairs(const char*& p, const char* last, std::size_t rare1, std::size_t rare2, const FormMatch& one,
                      const FormMatch& two, Check&& check) {
  auto both = [&](const char* q) {
    return _mm_and_si128(one.at<Forms1>(q + rare1), two.at<Forms2>(q + rare2));
  };
  while (last - p >= 63) {
    const __m128i m0 = both(p);
    const __m128i m1 = both(p + 16);
    const __m128i m2 = both(p + 32);
    const __m128i m3 = both(p + 48);
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
const char* scanPairs(const char*& p, const char* last, std::size_t rare1, std::size_t rare2, const FormMatch& one,
                      const FormMatch& two, unsigned count1, unsigned count2, Check&& check) {
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
#ifdef __SSE2__
  // The loads reach at most last + 63 - 63 + rare + 15 < to_.
  if (wide_) {
    const FormMatch one(n.forms1, n.count1), two(n.forms2, n.count2);
    const char* hit =
        scanPairs(p, last, n.rare1, n.rare2, one, two, n.count1, n.count2, [&](const char* at) { return matchesAt(n, at); });
    if (hit != nullptr) return hit;
  }
#endif
  // The rest (or everything, without SSE2): the rarest byte's forms by
  // memchr, each form's next place kept so that none is searched twice.
  const unsigned forms = n.count1 < kMaxForms ? n.count1 : kMaxForms;
  const char* next[kMaxForms] = {};
  const char* const lo = p + n.rare1;
  const char* const hi = last + n.rare1 + 1;  // exclusive
  if (lo >= hi) return nullptr;
  for (unsigned k = 0; k < forms; ++k) {
    next[k] = static_cast<const char*>(std::memchr(lo, n.forms1[k], static_cast<std::size_t>(hi - lo)));
  }
  for (;;) {
    const char* q = nullptr;
    for (unsigned k = 0; k < forms; ++k) {
      if (next[k] != nullptr && (q == nullptr || next[k] < q)) q = next[k];
    }
    if (q == nullptr) return nullptr;
    if (matchesAt(n, q - n.rare1)) return q - n.rare1;
    for (unsigned k = 0; k < forms; ++k) {
      if (next[k] == q) {
        next[k] = q + 1 < hi ? static_cast<const char*>(std::memchr(q + 1, n.forms1[k], static_cast<std::size_t>(hi - q - 1)))
                             : nullptr;
      }
    }
  }
}

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
