#include "core/filter_names.h"

namespace velmora {

const std::array<FilterName, 8> kFilterNames{{
    {u"3", u"FilterUsers", u"ФильтерПользователей"},
    {u"4", u"FilterMode", u"ФильтерРежима"},
    {u"5", u"FilterTypeObj", u"ФильтерТипаОбъекта"},
    {u"6", u"FilterOperation", u"ФильтерДействия"},
    {u"7", u"FilterNum", u"ФильтерЧисла"},
    {u"8", u"FilterRem", u"ФильтерКомментария"},
    {u"9", u"FilterIdObj", u"ФильтерIdОбъекта"},
    {u"10", u"FilterDeclarationObj", u"ФильтерПредставленияОбъекта"},
}};

int filterField(U16View name) {
  for (int k = 0; k < 8; ++k) {
    const FilterName& f = kFilterNames[static_cast<std::size_t>(k)];
    if (name == f.number || name == f.english || name == f.russian) return k + 3;
  }
  return 0;
}

}  // namespace velmora
