#include "addin/com_error.h"

#include <oleauto.h>

#include <new>

#include "addin/bstr.h"
#include "addin/com_ptr.h"
#include "core/failure.h"
#include "script/host.h"
#include "script/num_err.h"

namespace velmora {

namespace {

struct KnownStatus {
  HRESULT hr;
  const char16_t* text;
};

// The automation failures a script can provoke, in the host's language.
constexpr KnownStatus kKnownStatus[] = {
    {DISP_E_TYPEMISMATCH, u"Несоответствие типа"},
    {DISP_E_OVERFLOW, u"Переполнение"},
    {DISP_E_BADINDEX, u"Индекс за пределами диапазона"},
    {DISP_E_BADVARTYPE, u"Недопустимый тип значения"},
    {DISP_E_PARAMNOTFOUND, u"Параметр не найден"},
    {DISP_E_MEMBERNOTFOUND, u"Метод или свойство не найдены"},
    {DISP_E_UNKNOWNNAME, u"Неизвестное имя"},
    {DISP_E_BADPARAMCOUNT, u"Неверное число параметров"},
    {DISP_E_UNKNOWNINTERFACE, u"Неизвестный интерфейс"},
    {DISP_E_NONAMEDARGS, u"Именованные параметры не поддерживаются"},
    {E_OUTOFMEMORY, u"Недостаточно памяти"},
    {E_INVALIDARG, u"Недопустимый аргумент"},
    {E_POINTER, u"Недопустимый указатель"},
    {E_UNEXPECTED, u"Компонента не инициализирована"},
};

std::string narrow(const U16String& s) { return toUtf8(s); }

}  // namespace

ComError::ComError(HRESULT hr, U16String description)
    : std::runtime_error(narrow(description)), hr_(hr), description_(std::move(description)) {}

U16String describeHresult(HRESULT hr) {
  for (const auto& k : kKnownStatus)
    if (k.hr == hr) return k.text;
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                           nullptr);
  U16String text;
  if (n && buffer) {
    text.assign(reinterpret_cast<const char16_t*>(buffer), n);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
      text.pop_back();
  }
  if (buffer) LocalFree(buffer);
  if (text.empty()) {
    char hex[16];
    wsprintfA(hex, "0x%08lX", static_cast<unsigned long>(hr));
    text = u"Ошибка ";
    for (const char* p = hex; *p; ++p) text.push_back(static_cast<char16_t>(*p));
  }
  return text;
}

HRESULT hresultFromNumber(std::int32_t number) {
  if (number < 0) return static_cast<HRESULT>(number);
  if (number > 0 && number <= 0xFFFF) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number);
  return E_FAIL;
}

HRESULT failWithInfo(HRESULT hr, U16View description, REFIID iid) noexcept {
  try {
    com_ptr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
      U16String text(description);
      create->SetGUID(iid);
      create->SetSource(const_cast<LPOLESTR>(L"AddIn.Velmora"));
      create->SetDescription(reinterpret_cast<LPOLESTR>(text.data()));
      if (auto info = create.query<IErrorInfo>(IID_IErrorInfo)) SetErrorInfo(0, info.get());
    }
  } catch (...) {
    // The status still reaches the host, without a description.
  }
  return hr;
}

HRESULT failFromCurrentException(REFIID iid) noexcept {
  try {
    throw;
  } catch (const ComError& e) {
    return failWithInfo(e.hresult(), e.description(), iid);
  } catch (const HostError& e) {
    return failWithInfo(hresultFromNumber(e.number()), e.description(), iid);
  } catch (const Failure& e) {
    return failWithInfo(hresultFromNumber(numErr(e)), textErr(e), iid);
  } catch (const std::bad_alloc&) {
    return failWithInfo(E_OUTOFMEMORY, describeHresult(E_OUTOFMEMORY), iid);
  } catch (const std::exception& e) {
    try {
      return failWithInfo(E_FAIL, fromUtf8(e.what()), iid);
    } catch (...) {
      return E_FAIL;
    }
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace velmora
