#include "journal/codepage.h"

namespace velmora {

const CodePage& CodePage::current() { static CodePage* cp = nullptr; return *cp; }
bool CodePage::select(unsigned) { return false; }
std::unique_ptr<CodePage> CodePage::make(unsigned) { return nullptr; }
std::optional<unsigned char> CodePage::toByte(char16_t) const { return {}; }
char16_t CodePage::upperUnit(char16_t u) const { return u; }
void CodePage::decode(std::string_view, U16String&) const {}
U16String CodePage::decode(std::string_view) const { return {}; }

}  // namespace velmora
