// Turns the codes of four record fields into Russian presentations: the date
// (field 1), the run mode (4), the category (5) and the event code (6).
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
  std::int16_t LowPos_ = 0, MidPos_ = 0, HighPos_ = 0;
};

}  // namespace velmora
