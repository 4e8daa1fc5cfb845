#include "core/failure.h"

#include <new>

namespace velmora {

Failure currentFailure() {
  try {
    throw;
  } catch (const Failure& f) {
    return f;
  } catch (const std::bad_alloc&) {
    return Failure(ErrorNumber::OutOfMemory, u"Недостаточно памяти");
  } catch (const std::exception& e) {
    return Failure(ErrorNumber::InternalError, u"Внутренняя ошибка: " + fromUtf8(e.what()));
  } catch (...) {
    return Failure(ErrorNumber::InternalError, u"Внутренняя ошибка");
  }
}

std::string describe(const Failure& failure) {
  return "NumErr " + std::to_string(failure.number()) + ": " + toUtf8(failure.text());
}

void throwLogCut(U16View path) {
  U16String text = u"Файл \"";
  text.append(path);
  text.append(u"\" стал короче во время чтения; копия не закончена");
  throw Failure(ErrorNumber::DeviceIo, std::move(text));
}

}  // namespace velmora
