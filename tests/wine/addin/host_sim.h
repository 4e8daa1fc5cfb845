// The host simulator: the connection object, value table and value list
// that a host hands to the add-in, and the helpers that drive the add-in
// through COM as the host does.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "Velmora_h.h"
#include "addin/addin_interfaces.h"
#include "addin/com_ptr.h"
#include "addin/variant.h"
#include "automation_object.h"
#include "script/host.h"
#include "memhost/memory_host.h"

namespace sim {

using velmora::com_ptr;
using velmora::IInitDone;
using velmora::ILanguageExtender;

// Connection object: a profile store with one setting and an error log.
class Connection : public AutomationObject {
 public:
  Connection();
  std::wstring profile;               // last RegisterProfileAs
  std::vector<std::wstring> readNames, writeNames;
  VARTYPE readArgType = VT_EMPTY;     // what Read received as its value
  VARTYPE readValueType = VT_EMPTY;   // the value behind it
  VARTYPE writeArgType = VT_EMPTY;
  VARIANT stored;                     // what Read hands back; VT_EMPTY: leave the value alone
  VARIANT written;                    // the value Write received
  struct Error {
    VARTYPE types[4];
    long code, last;
    std::wstring source, description;
  };
  std::vector<Error> errors;
  ~Connection() override;
};

// Value table: forwards every operation to a ValueTable implementation.
class Table : public AutomationObject {
 public:
  explicit Table(velmora::ValueTable& target);
  // The argument forms of the last SetValue call.
  VARTYPE setValueTypes[3] = {VT_EMPTY, VT_EMPTY, VT_EMPTY};
  VARTYPE groupByTypes[2] = {VT_EMPTY, VT_EMPTY};
  VARTYPE sortType = VT_EMPTY;
  std::wstring lastGroupBy, lastGroupSum, lastSort;

 private:
  velmora::ValueTable& target_;
};

class List : public AutomationObject {
 public:
  explicit List(velmora::ValueList& target);
  VARTYPE addValueTypes[2] = {VT_EMPTY, VT_EMPTY};

 private:
  velmora::ValueList& target_;
};

// Creates a simulator object with one reference held by the com_ptr.
template <class T, class... A>
com_ptr<T> make(A&&... a) {
  return com_ptr<T>::attach(new T(std::forward<A>(a)...));
}

// A host argument array: one dimension of variants, from index 0.
class ArgArray {
 public:
  ArgArray(std::initializer_list<VARIANT> values);  // takes ownership of the values
  explicit ArgArray(long count);
  ArgArray(const ArgArray&) = delete;
  ArgArray& operator=(const ArgArray&) = delete;
  ~ArgArray();
  SAFEARRAY** put() { return &array_; }
  VARIANT& operator[](long i);

 private:
  SAFEARRAY* array_;
};

// Variant makers; the caller owns the result (ArgArray takes it).
VARIANT vstr(const std::wstring& s);
VARIANT vlong(long n);
VARIANT vshort(short n);
VARIANT vobj(IDispatch* d);
VARIANT vnull();
VARIANT vbool(bool b);

std::wstring str(const VARIANT& v);  // a BSTR variant's text; "<vt N>" otherwise

// The add-in as the host sees it.
struct AddIn {
  com_ptr<IInitDone> initDone;
  com_ptr<velmora::ILanguageExtender> ext;
  com_ptr<IDispatch> disp;
};
AddIn createAddIn();  // by ProgID, through COM

// The description in the calling thread's error information, "" if none.
std::wstring errorDescription();

// Property access through the extension.
VARIANT getProp(velmora::ILanguageExtender* ext, long n);  // caller clears
HRESULT setProp(velmora::ILanguageExtender* ext, long n, VARIANT v);  // v is cleared

// A folder of one test's files under the temporary folder, removed with
// everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::wstring& name);
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  std::wstring path(const std::wstring& file) const { return dir_ + L"\\" + file; }

 private:
  std::wstring dir_;
};

void writeBytes(const std::wstring& path, const std::string& bytes, bool append = false);
std::string readBytes(const std::wstring& path);  // "<missing>" when it cannot be read
// True when the file opens with no sharing at all, which Windows refuses
// while any other handle to it is open: nobody, the add-in included, still
// has it open.
bool noOtherHandle(const std::wstring& path);

// A value table's or list's contents as text: the column names, then a line
// per row with the cells separated by tabs.
std::vector<std::wstring> contents(const velmora::MemoryValueTable& table);
std::vector<std::wstring> contents(const velmora::MemoryValueList& list);

// A method call as the host makes it: the status, and the result as text
// ("I4 123", "BSTR text", "I2 1"; "-" when the call failed).
struct CallResult {
  HRESULT hr = E_FAIL;
  std::wstring value;
  std::wstring describe() const;
};
CallResult callFunc(ILanguageExtender* ext, long method, ArgArray& args);
std::wstring variantText(const VARIANT& v);

// Runs a program in the Windows prefix; returns its exit code.
DWORD run(const std::wstring& commandLine);
// Velmora.dll beside this test program.
std::wstring addinPath();

}  // namespace sim
