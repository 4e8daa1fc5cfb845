#include "addin/variant.h"

#include "addin/com_error.h"

namespace velmora {

void convertVariant(const VARIANT& src, VARTYPE type, unique_variant& out) {
  // Resolve references first: the script's variable is only read, never
  // converted in place.
  unique_variant plain;
  HRESULT hr = VariantCopyInd(plain.put(), const_cast<VARIANT*>(&src));
  if (SUCCEEDED(hr)) hr = VariantChangeType(out.put(), plain.get(), 0, type);
  if (FAILED(hr)) throw ComError(hr, describeHresult(hr));
}

U16String variantToString(const VARIANT& src) {
  unique_variant v;
  convertVariant(src, VT_BSTR, v);
  return U16String(bstrView(v->bstrVal));
}

std::int32_t variantToLong(const VARIANT& src) {
  unique_variant v;
  convertVariant(src, VT_I4, v);
  return v->lVal;
}

bool variantToBool(const VARIANT& src) {
  unique_variant v;
  convertVariant(src, VT_BOOL, v);
  return v->boolVal != VARIANT_FALSE;
}

void setNull(VARIANT* dst) {
  VariantClear(dst);
  V_VT(dst) = VT_NULL;
}

void setShort(VARIANT* dst, std::int16_t value) {
  VariantClear(dst);
  V_VT(dst) = VT_I2;
  V_I2(dst) = value;
}

void setLong(VARIANT* dst, std::int32_t value) {
  VariantClear(dst);
  V_VT(dst) = VT_I4;
  V_I4(dst) = value;
}

void setString(VARIANT* dst, U16View value) {
  // Allocate before clearing, so that a failure leaves dst as it was.
  BSTR s = allocBstr(value);
  VariantClear(dst);
  V_VT(dst) = VT_BSTR;
  V_BSTR(dst) = s;
}

}  // namespace velmora
