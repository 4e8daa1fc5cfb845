#include "transform/transform.h"

#include "transform/lookup.h"
#include "transform/mask.h"

namespace velmora {

Transform::Transform() = default;

void Transform::SetTransformStr(U16View value) {
  TransformStr_ = normaliseMask(trimSpaces(value), 4, u'0');
  for (std::size_t k = 1; k <= 4; ++k) TransformFlags_[k] = TransformStr_[k - 1] == u'1';
}

void Transform::TransformCol(U16String& TxtStr, std::int16_t Col) {
  // Mask positions 1..4 switch fields 1, 4, 5 and 6.
  if (!isTranslatable(Col)) return;
  const std::size_t flag = Col == 1 ? 1 : static_cast<std::size_t>(Col - 2);
  if (TransformFlags_[flag]) presentCode(Col, TxtStr);
}

int Transform::findEvent(U16View code) { return eventPosition(code); }

}  // namespace velmora
