#include "addin/extension_tables.h"

#include <array>

namespace velmora {

namespace {

// Numbered as the Props enumeration of the type library.
constexpr std::array<PropertyEntry, 13> kProperties{{
    {u"FilePath,ПутьКФайлу", WriteAs::String},
    {u"FileSize,РазмерФайла", WriteAs::ReadOnly},
    {u"ListStrSize,РазмерСпискаСтрок", WriteAs::ReadOnly},
    {u"DateBegin,НачалоПериода", WriteAs::ReadOnly},
    {u"DateEnd,ОкончаниеПериода", WriteAs::ReadOnly},
    {u"NumErr,НомерОшибки", WriteAs::ReadOnly},
    {u"InsertColumn,ДобавитьСтолбец", WriteAs::String},
    {u"TransformStr,Преобразовывать", WriteAs::String},
    {u"GroupBy,Группировать", WriteAs::String},
    {u"OrderBy,Сортировать", WriteAs::String},
    {u"TextErr,ОписаниеОшибки", WriteAs::ReadOnly},
    {u"InvertFilters,ИнвертироватьФильтры", WriteAs::String},
    {u"CoincidenceObject,СовпадениеОбъекта", WriteAs::Long},
}};

// Numbered as the Methods enumeration of the type library.
constexpr std::array<MethodEntry, 7> kMethods{{
    {u"GetData,ПолучитьДанные", 2},
    {u"SetDateTimes,УстановитьПериод", 4},
    {u"SetFilter,УстановитьФильтр", 2},
    {u"GetFilter,ПолучитьФильтр", 1},
    {u"GetUsers,ПолучитьПользователей", 2},
    {u"StoreErrRows,УбратьЗаписиОшибок", 2},
    {u"ReplaceDateTimes,ЗаменаПериодов", 2},
}};

template <class Table>
long find(const Table& table, U16View name) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (termString(table[i].names, 0) == name || termString(table[i].names, 1) == name)
      return static_cast<long>(i);
  }
  return -1;
}

}  // namespace

std::span<const PropertyEntry> propertyTable() { return kProperties; }
std::span<const MethodEntry> methodTable() { return kMethods; }

U16View termString(U16View names, long alias) {
  std::size_t comma = names.find(u',');
  if (comma == U16View::npos) return names;
  return alias == 0 ? names.substr(0, comma) : names.substr(comma + 1);
}

long findProperty(U16View name) { return find(kProperties, name); }
long findMethod(U16View name) { return find(kMethods, name); }

}  // namespace velmora
