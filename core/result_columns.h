// The columns that GetData gives the host's value table: column k holds
// record field k. Also the names under which the tool prints the fields.
#pragma once

#include <array>
#include <cstdint>

#include "text/text.h"

namespace velmora {

struct ResultColumn {
  U16View name;
  std::int16_t length;  // 0: NewColumn gets no length
};

inline constexpr std::array<ResultColumn, 10> kResultColumns{{
    {u"Дата", 8},
    {u"Время", 8},
    {u"Пользователь", 0},
    {u"Режим", 0},
    {u"ТипОбъекта", 0},
    {u"Действие", 0},
    {u"НомерДействия", 2},
    {u"Комментарий", 0},
    {u"Идентификатор", 30},
    {u"Представление", 0},
}};

inline constexpr U16View kStringType = u"Строка";
inline constexpr U16View kNumberType = u"Число";
// With grouping: every row gets 1 here, and the host's GroupBy sums it.
inline constexpr U16View kCountColumn = u"Чис";
inline constexpr std::int16_t kCountLength = 10;

}  // namespace velmora
