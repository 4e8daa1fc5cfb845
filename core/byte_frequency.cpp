#include "core/byte_frequency.h"

#include <array>

namespace velmora {
namespace {

// Per 100,000 bytes of a typical log: keys and numbers make digits, ";" and
// ":" common; codes and identifiers bring upper-case Latin letters; users,
// comments and presentations are mostly Russian text.
constexpr std::array<std::uint16_t, 128> kAscii = {
    // 00-0F: controls; CR and LF end every line
    1, 1, 1, 1, 1, 1, 1, 1, 1, 5, 1000, 1, 1, 1000, 1, 1,
    // 10-1F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    // 20-2F: space ! " # $ % & ' ( ) * + , - . /
    4000, 10, 50, 10, 10, 10, 10, 10, 30, 30, 10, 10, 200, 300, 800, 800,
    // 30-3F: 0-9 : ; < = > ?
    4000, 2500, 2000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 2000, 8000, 10, 10, 10, 10,
    // 40-4F: @ A-O
    10, 300, 60, 300, 800, 600, 40, 80, 40, 60, 20, 30, 60, 150, 150, 400,
    // 50-5F: P-Z [ \ ] ^ _
    100, 20, 400, 200, 100, 100, 40, 300, 40, 20, 20, 10, 20, 10, 10, 20,
    // 60-6F: ` a-o
    10, 700, 150, 900, 500, 1500, 200, 200, 300, 800, 20, 100, 500, 300, 700, 1200,
    // 70-7F: p-z { | } ~ DEL
    300, 20, 900, 700, 900, 400, 100, 200, 50, 150, 20, 10, 20, 10, 10, 1,
};

// а б в г д е ж з и й к л м н о п р с т у ф х ц ч ш щ ъ ы ь э ю я
constexpr std::array<std::uint16_t, 32> kCyrillicLower = {
    2800, 550, 1600, 600, 1050, 3000, 320, 550, 2600, 420, 1200, 1550, 1100, 2300, 3900, 1000,
    1650, 1900, 2200, 900, 100, 350, 170, 500, 250, 130, 15, 650, 600, 110, 200, 700,
};

// А Б В Г Д Е Ж З И Й К Л М Н О П Р С Т У Ф Х Ц Ч Ш Щ Ъ Ы Ь Э Ю Я: initials
// of names and the letters of document numbers.
constexpr std::array<std::uint16_t, 32> kCyrillicUpper = {
    300, 150, 200, 150, 200, 100, 40, 80, 300, 10, 200, 100, 150, 300, 200, 400,
    300, 350, 150, 60, 60, 40, 30, 100, 50, 20, 1, 1, 1, 40, 20, 60,
};

constexpr std::uint32_t kLowerYo = 15;  // ё
constexpr std::uint32_t kUpperYo = 5;   // Ё
constexpr std::uint32_t kUnknown = 1;

}  // namespace

std::uint32_t characterFrequency(char16_t unit) {
  if (unit < 0x80) return kAscii[unit];
  if (unit >= 0x0410 && unit <= 0x042F) return kCyrillicUpper[unit - 0x0410];
  if (unit >= 0x0430 && unit <= 0x044F) return kCyrillicLower[unit - 0x0430];
  if (unit == 0x0451) return kLowerYo;
  if (unit == 0x0401) return kUpperYo;
  return kUnknown;
}

}  // namespace velmora
