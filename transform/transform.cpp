#include "transform/transform.h"

namespace velmora {

Transform::Transform() = default;
void Transform::SetTransformStr(U16View) {}
void Transform::TransformCol(U16String&, std::int16_t) {}
int Transform::findEvent(U16View) { return 0; }

}  // namespace velmora
