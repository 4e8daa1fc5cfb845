// The script's translator: the presentations of transform/lookup.h, switched
// field by field by the four-character mask that scripts write (date, run
// mode, category, event code).
#pragma once

#include <array>
#include <cstdint>

#include "text/text.h"

namespace velmora {

class Transform {
 public:
  Transform();

  const U16String& TransformStr() const { return TransformStr_; }
  // Trims spaces, pads with "0" to four characters and cuts there; "0" and a
  // space are off, anything else on.
  void SetTransformStr(U16View value);

  // Rewrites TxtStr in place when the mask enables translation of field Col.
  void TransformCol(U16String& TxtStr, std::int16_t Col);

  // Position (1..54) of an event code in the catalogue, or 0.
  int findEvent(U16View code);

 private:
  U16String TransformStr_ = u"0000";
  std::array<bool, 5> TransformFlags_{};  // positions 1..4
};

}  // namespace velmora
