// Owning VARIANT, and the automation conversions the add-in applies to
// script values.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdint>

#include "addin/bstr.h"
#include "text/text.h"

namespace velmora {

class unique_variant {
 public:
  unique_variant() { VariantInit(&v_); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  const VARIANT* operator->() const { return &v_; }
  // Clears the old value first, for out parameters.
  VARIANT* put() {
    VariantClear(&v_);
    return &v_;
  }
  // Moves the value out into an uninitialised or cleared variant.
  void moveTo(VARIANT* dst) {
    *dst = v_;
    VariantInit(&v_);
  }

 private:
  VARIANT v_;
};

// Copies src (through any by-reference levels) converted to the wanted type
// by the standard automation rules. Throws ComError when there is no such
// form (Null to a string, text to a number, an overflow).
void convertVariant(const VARIANT& src, VARTYPE type, unique_variant& out);
U16String variantToString(const VARIANT& src);
std::int32_t variantToLong(const VARIANT& src);
bool variantToBool(const VARIANT& src);

// Replaces *dst (cleared first) with a value of the given kind.
void setNull(VARIANT* dst);
void setShort(VARIANT* dst, std::int16_t value);
void setLong(VARIANT* dst, std::int32_t value);
void setString(VARIANT* dst, U16View value);

}  // namespace velmora
