// The byte forms of the filters, built by the reader for matching log bytes.
//
// Filter values are kept upper-cased, as log bytes of the reader's code
// page. A character that the code page cannot write can never occur in a
// log field, so it must never help a match: the byte text is split into
// segments at such characters, and an item that holds one is left out of
// the byte list altogether.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "text/codepage.h"

namespace velmora {

// The exact list test: upper(v) is one of the values, or, holding bars, a
// run of neighbouring values joined by "|".
class ExactList {
 public:
  void build(const std::vector<U16String>& upperValues, const CodePage& cp);
  void clear();
  // v is raw log bytes, folded on the fly by the code page's upper-casing.
  bool matches(std::string_view v, const CodePage& cp) const;
  const std::vector<std::string>& items() const { return items_; }

 private:
  std::vector<std::string> segments_;
  // The values, sorted: a field without "|" matches exactly when it equals
  // one of these.
  std::vector<std::string> items_;
};

// The item list test: upper(v) contains one of the items.
class ItemList {
 public:
  void build(const std::vector<U16String>& upperItems, const CodePage& cp);
  void clear();
  bool matches(std::string_view v, const CodePage& cp) const;
  const std::vector<std::string>& items() const { return items_; }

 private:
  std::vector<std::string> items_;
  std::array<bool, 256> firstBytes_{};
};

}  // namespace velmora
