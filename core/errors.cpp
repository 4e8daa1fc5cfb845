#include "core/errors.h"

#include "core/failures.h"

namespace velmora {

void throwLogCut(U16View path) {
  U16String text = u"Файл \"";
  text.append(path);
  text.append(u"\" стал короче во время чтения; копия не закончена");
  throw Failure(ErrorNumber::DeviceIo, std::move(text));
}

}  // namespace velmora
