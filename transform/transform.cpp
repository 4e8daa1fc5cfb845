#include "transform/transform.h"

#include "transform/catalogue.h"
#include "transform/mask.h"

namespace velmora {

namespace {

constexpr std::int16_t kEventCount = static_cast<std::int16_t>(kEventCatalogue.size());

U16View eventCode(std::int16_t pos) { return kEventCatalogue[pos - 1].code; }

// Characters first..first+count-1 (1-based) of text, as far as they exist.
U16View part(U16View text, std::size_t first, std::size_t count) {
  if (first > text.size()) return {};
  return text.substr(first - 1, count);
}

template <std::size_t N>
const CodeText* findExact(const std::array<CodeText, N>& table, U16View code) {
  for (const CodeText& entry : table) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

}  // namespace

Transform::Transform() = default;

void Transform::SetTransformStr(U16View value) {
  TransformStr_ = normaliseMask(trimSpaces(value), 4, u'0');
  for (std::size_t k = 1; k <= 4; ++k) TransformFlags_[k] = TransformStr_[k - 1] == u'1';
}

void Transform::TransformCol(U16String& TxtStr, std::int16_t Col) {
  if (TxtStr.empty()) return;
  switch (Col) {
    case 1:
      if (TransformFlags_[1]) {
        // YYYYMMDD -> DD.MM.YY; a shorter text keeps whatever positions it
        // has. Built in a fixed buffer: the field's own storage is reused.
        const U16View text = TxtStr;
        char16_t date[8];
        std::size_t n = 0;
        auto put = [&](U16View piece) {
          for (char16_t c : piece) date[n++] = c;
        };
        put(text.substr(text.size() >= 2 ? text.size() - 2 : 0));
        date[n++] = u'.';
        put(part(text, 5, 2));
        date[n++] = u'.';
        put(part(text, 3, 2));
        TxtStr.assign(date, n);
      }
      break;
    case 4:
      if (TransformFlags_[2]) {
        if (const CodeText* mode = findExact(kRunModes, TxtStr)) TxtStr.assign(mode->text);
      }
      break;
    case 5:
      if (TransformFlags_[3]) {
        if (const CodeText* category = findExact(kCategories, TxtStr)) TxtStr.assign(category->text);
      }
      break;
    case 6:
      if (TransformFlags_[4]) {
        if (const int pos = findEvent(TxtStr)) TxtStr.assign(kEventCatalogue[pos - 1].text);
      }
      break;
    default:
      break;
  }
}

int Transform::findEvent(U16View code) {
  // Binary search over the sorted catalogue; the ends are tested first so
  // that inside the loop the code always lies strictly between LowPos and
  // HighPos. Codes compare whole, so a prefix never matches a longer code.
  if (code == eventCode(1)) return 1;
  if (code < eventCode(1)) return 0;
  LowPos_ = 1;
  HighPos_ = kEventCount;
  if (code == eventCode(HighPos_)) return HighPos_;
  if (code > eventCode(HighPos_)) return 0;
  while (HighPos_ - LowPos_ >= 2) {
    MidPos_ = static_cast<std::int16_t>((LowPos_ + HighPos_) / 2);
    const U16View mid = eventCode(MidPos_);
    if (code == mid) return MidPos_;
    if (mid > code) {
      HighPos_ = MidPos_;
    } else {
      LowPos_ = MidPos_;
    }
  }
  return 0;
}

}  // namespace velmora
