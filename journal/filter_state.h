// The byte forms of the filters, built by SetFilter for matching log bytes.
//
// Filter texts are kept as the script sees them (upper-cased code units) and
// as log bytes of the current code page. A character that the code page
// cannot write can never occur in a log field, so it must never help a match:
// the byte text is split into segments at such characters, and an item that
// holds one is left out of the byte list altogether.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "text/codepage.h"
#include "journal/journal.h"

namespace velmora {

// The exact list test: "|" + upper(v) + "|" occurs in the filter text.
class ExactList {
 public:
  void build(U16View upperText, const CodePage& cp);
  void clear();
  // v is raw log bytes, folded on the fly by the code page's upper-casing.
  bool matches(std::string_view v, const CodePage& cp) const;
  const std::vector<std::string>& items() const { return items_; }

 private:
  std::vector<std::string> segments_;
  // What stands between two neighbouring bars, sorted: a value without "|"
  // matches exactly when it equals one of these.
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

struct Journal::FilterState {
  // The items of the comment, identifier and presentation filters, as
  // SetFilter cut them (upper-cased); index 0 is filter 8.
  std::array<std::vector<U16String>, 3> lists;  // RemList, IdObjList, DeclarationObjList

  // Byte forms, valid for the code page they were built with.
  const CodePage* builtFor = nullptr;
  std::array<ExactList, 11> exact;  // positions 3..10
  std::array<ItemList, 11> items;   // positions 8..10
  std::array<bool, 11> active{};    // FilterText at the position is not empty
  bool anyActive = false;
};

}  // namespace velmora
