#include "addin/host_objects.h"

#include "addin/bstr.h"

namespace velmora {

namespace {

// Argument builders. The VARIANTARGs only point at or borrow the caller's
// values; the owners (unique_bstr and locals) outlive the call.
VARIANTARG byValue(BSTR s) {
  VARIANTARG a;
  V_VT(&a) = VT_BSTR;
  V_BSTR(&a) = s;
  return a;
}
VARIANTARG byValue(std::int16_t n) {
  VARIANTARG a;
  V_VT(&a) = VT_I2;
  V_I2(&a) = n;
  return a;
}
VARIANTARG byValue(std::int32_t n) {
  VARIANTARG a;
  V_VT(&a) = VT_I4;
  V_I4(&a) = n;
  return a;
}
VARIANTARG byRef(BSTR* s) {
  VARIANTARG a;
  V_VT(&a) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&a) = s;
  return a;
}
VARIANTARG byRef(std::int16_t* n) {
  VARIANTARG a;
  V_VT(&a) = VT_I2 | VT_BYREF;
  V_I2REF(&a) = n;
  return a;
}
VARIANTARG byRef(std::int32_t* n) {
  VARIANTARG a;
  V_VT(&a) = VT_I4 | VT_BYREF;
  V_I4REF(&a) = reinterpret_cast<LONG*>(n);
  return a;
}
VARIANTARG byRef(VARIANT* v) {
  VARIANTARG a;
  V_VT(&a) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&a) = v;
  return a;
}

constexpr WORD kMethod = DISPATCH_METHOD;

enum ConnectionMember : std::size_t { cRegisterProfileAs, cRead, cWrite, cAddError };
constexpr const char16_t* kConnectionNames[] = {u"RegisterProfileAs", u"Read", u"Write", u"AddError"};

enum TableMember : std::size_t {
  tColumnCount, tLinesCnt, tDeleteLines, tDeleteColumn, tNewColumn, tNewLine, tSetValue, tGroupBy, tSort
};
constexpr const char16_t* kTableNames[] = {u"ColumnCount", u"LinesCnt", u"DeleteLines", u"DeleteColumn",
                                           u"NewColumn",   u"NewLine",  u"SetValue",    u"GroupBy",
                                           u"Sort"};

enum ListMember : std::size_t { lRemoveAll, lAddValue, lGetListSize, lSort };
constexpr const char16_t* kListNames[] = {u"RemoveAll", u"AddValue", u"GetListSize", u"Sort"};

}  // namespace

// ---- connection object -----------------------------------------------------

HostConnection::HostConnection(com_ptr<IDispatch> object) : caller_(std::move(object), kConnectionNames) {}

void HostConnection::RegisterProfileAs(U16View profile) {
  unique_bstr name(allocBstr(profile));
  VARIANTARG args[] = {byValue(name.get())};
  caller_.invoke(cRegisterProfileAs, kMethod, args, 1, nullptr);
}

void HostConnection::Read(U16View name, VARIANT& value) {
  unique_bstr key(allocBstr(name));
  VARIANTARG args[] = {byRef(&value), byValue(key.get())};
  caller_.invoke(cRead, kMethod, args, 2, nullptr);
}

void HostConnection::Write(U16View name, VARIANT& value) {
  unique_bstr key(allocBstr(name));
  VARIANTARG args[] = {byRef(&value), byValue(key.get())};
  caller_.invoke(cWrite, kMethod, args, 2, nullptr);
}

void HostConnection::AddError(std::int16_t code, U16View source, U16View description, std::int16_t last) {
  unique_bstr src(allocBstr(source)), text(allocBstr(description));
  VARIANTARG args[] = {byValue(last), byValue(text.get()), byValue(src.get()), byValue(code)};
  caller_.invoke(cAddError, kMethod, args, 4, nullptr);
}

// ---- value table -----------------------------------------------------------

HostValueTable::HostValueTable(com_ptr<IDispatch> object) : caller_(std::move(object), kTableNames) {}

std::int32_t HostValueTable::ColumnCount() { return caller_.readLong(tColumnCount); }

std::int32_t HostValueTable::LinesCnt() { return caller_.readLong(tLinesCnt); }

void HostValueTable::DeleteLines() { caller_.invoke(tDeleteLines, kMethod, nullptr, 0, nullptr); }

void HostValueTable::DeleteColumn(std::int32_t column) {
  VARIANTARG args[] = {byValue(column)};
  caller_.invoke(tDeleteColumn, kMethod, args, 1, nullptr);
}

void HostValueTable::NewColumn(U16View name, U16View typeName, std::optional<std::int16_t> length) {
  unique_bstr n(allocBstr(name)), t(allocBstr(typeName));
  if (length) {
    VARIANTARG args[] = {byValue(*length), byValue(t.get()), byValue(n.get())};
    caller_.invoke(tNewColumn, kMethod, args, 3, nullptr);
  } else {
    VARIANTARG args[] = {byValue(t.get()), byValue(n.get())};
    caller_.invoke(tNewColumn, kMethod, args, 2, nullptr);
  }
}

void HostValueTable::NewLine() { caller_.invoke(tNewLine, kMethod, nullptr, 0, nullptr); }

void HostValueTable::SetValue(std::int32_t row, std::int16_t column, U16View value) {
  // All three go by reference; the host may write back, into our copies.
  unique_bstr text(allocBstr(value));
  VARIANTARG args[] = {byRef(text.addressof()), byRef(&column), byRef(&row)};
  caller_.invoke(tSetValue, kMethod, args, 3, nullptr);
}

void HostValueTable::SetValue(std::int32_t row, U16View columnName, std::int16_t value) {
  unique_bstr name(allocBstr(columnName));
  VARIANTARG args[] = {byValue(value), byValue(name.get()), byRef(&row)};
  caller_.invoke(tSetValue, kMethod, args, 3, nullptr);
}

void HostValueTable::GroupBy(U16View columns, U16View summedColumn) {
  unique_bstr list(allocBstr(columns)), summed(allocBstr(summedColumn));
  VARIANTARG args[] = {byValue(summed.get()), byRef(list.addressof())};
  caller_.invoke(tGroupBy, kMethod, args, 2, nullptr);
}

void HostValueTable::Sort(U16View columns) {
  unique_bstr list(allocBstr(columns));
  VARIANTARG args[] = {byRef(list.addressof())};
  caller_.invoke(tSort, kMethod, args, 1, nullptr);
}

// ---- value list ------------------------------------------------------------

HostValueList::HostValueList(com_ptr<IDispatch> object) : caller_(std::move(object), kListNames) {}

void HostValueList::RemoveAll() { caller_.invoke(lRemoveAll, kMethod, nullptr, 0, nullptr); }

void HostValueList::AddValue(U16View value, U16View presentation) {
  unique_bstr v(allocBstr(value)), p(allocBstr(presentation));
  VARIANTARG args[] = {byRef(p.addressof()), byRef(v.addressof())};
  caller_.invoke(lAddValue, kMethod, args, 2, nullptr);
}

std::int32_t HostValueList::GetListSize() { return caller_.readLong(lGetListSize); }

void HostValueList::Sort() { caller_.invoke(lSort, kMethod, nullptr, 0, nullptr); }

}  // namespace velmora
