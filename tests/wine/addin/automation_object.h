// A hand-written automation object for the host simulator: members are
// registered by name with a handler, GetIDsOfNames and Invoke are answered
// from that table, and every lookup and call is counted so that tests can
// see how the add-in calls its host.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

// One call's arguments in script order (Invoke's are reversed); by-reference
// arguments keep their VT_BYREF form so that handlers can check and write.
using Args = std::vector<VARIANTARG*>;
// A handler returns S_OK or fails; it may fill result and the exception.
using Handler = std::function<HRESULT(const Args& args, VARIANT* result, EXCEPINFO* excep)>;

class AutomationObject : public IDispatch {
 public:
  AutomationObject() = default;
  virtual ~AutomationObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* argErr) override;

  void define(const std::wstring& name, Handler handler);
  // Runs before every member call, for tests that look at the caller's state
  // or call back into the add-in; callNumber counts every member call of this
  // object from 1.
  std::function<void(const std::wstring& name)> beforeCall;
  std::function<void(const std::wstring& name, int callNumber)> beforeNumberedCall;
  // Runs on every Release, with the count left.
  std::function<void(ULONG left)> onRelease;

  // Counters by member name, and of all member calls.
  int lookups(const std::wstring& name) const;
  int calls(const std::wstring& name) const;
  int totalCalls() const { return totalCalls_; }
  ULONG refs() const { return refs_; }

  // The next call of `name` fails: with DISP_E_EXCEPTION carrying scode (or
  // wCode when scode is 0) and the description, or with plain status hr.
  void failNext(const std::wstring& name, HRESULT hr, SCODE scode = 0, WORD wCode = 0,
                const std::wstring& description = L"");
  // Member call number `callNumber` (counted as totalCalls counts, whatever
  // the member) fails the same way; 0 disarms.
  void failCall(int callNumber, HRESULT hr, SCODE scode = 0, WORD wCode = 0, const std::wstring& description = L"");

 private:
  struct Failure {
    HRESULT hr = S_OK;
    SCODE scode = 0;
    WORD code = 0;
    std::wstring text;
  };
  struct Member {
    std::wstring name;
    Handler handler;
    int lookups = 0;
    int calls = 0;
    Failure failure;  // of the next call
  };
  const Member* find(const std::wstring& name) const;
  static HRESULT fail(Failure& f, EXCEPINFO* excep);

  ULONG refs_ = 1;
  std::vector<Member> members_;
  int totalCalls_ = 0;
  int failCallNumber_ = 0;
  Failure callFailure_;
};

// Helpers for handlers.
std::wstring argString(const VARIANTARG* a);   // by value or by reference, converted
long argLong(const VARIANTARG* a);
HRESULT excepFail(EXCEPINFO* excep, SCODE scode, const std::wstring& description);

}  // namespace sim
