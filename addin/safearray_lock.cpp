#include "addin/safearray_lock.h"

#include "addin/com_error.h"

namespace velmora {

UniqueSafeArrayLock lockSafeArray(SAFEARRAY* array) {
  HRESULT hr = SafeArrayLock(array);
  if (FAILED(hr)) throw ComError(hr, describeHresult(hr));
  return UniqueSafeArrayLock(array);
}

VariantArray::VariantArray(SAFEARRAY** array) : array_(array ? *array : nullptr) {
  if (!array_) throw ComError(E_POINTER, describeHresult(E_POINTER));
  VARTYPE type = VT_EMPTY;
  // An array of anything but variants would be read with the wrong layout.
  if (SafeArrayGetDim(array_) != 1 || FAILED(SafeArrayGetVartype(array_, &type)) || type != VT_VARIANT ||
      SafeArrayGetElemsize(array_) != sizeof(VARIANT))
    throw ComError(DISP_E_TYPEMISMATCH, u"Ожидался одномерный массив значений");
}

VARIANT& VariantArray::at(long index) const {
  long lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(array_, 1, &lower)) || FAILED(SafeArrayGetUBound(array_, 1, &upper)) ||
      index < lower || index > upper)
    throw ComError(DISP_E_BADINDEX, describeHresult(DISP_E_BADINDEX));
  void* element = nullptr;
  HRESULT hr = SafeArrayPtrOfIndex(array_, &index, &element);
  if (FAILED(hr)) throw ComError(hr, describeHresult(hr));
  return *static_cast<VARIANT*>(element);
}

}  // namespace velmora
