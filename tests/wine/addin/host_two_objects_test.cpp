// Two add-in objects in one host at once, with different logs, periods,
// filters and properties, their calls interleaved: each gives, step by step,
// exactly what it gives when it runs alone.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host_sim.h"
#include "sample/sample.h"

namespace {

using namespace sim;
using velmora::MemoryValueList;
using velmora::MemoryValueTable;

std::wstring fingerprint(const std::string& bytes) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return std::to_wstring(bytes.size()) + L"/" + std::to_wstring(h);
}

std::wstring join(const std::vector<std::wstring>& lines) {
  std::wstring out;
  for (const auto& l : lines) out += l + L"\n";
  return out;
}

struct Settings {
  std::wstring tag;
  velmora::SampleOptions log;
  std::string appended;  // records the host logs between the two GetData calls
  std::vector<std::wstring> period;
  std::vector<std::pair<std::wstring, std::wstring>> filters;  // text, name
  std::vector<std::pair<long, std::wstring>> props;
  std::pair<std::wstring, std::wstring> laterFilter;
};

// One object's script, a step at a time; each step's outcome as text.
class Scenario {
 public:
  Scenario(TempDir& dir, const Settings& s) : dir_(dir), s_(s) {
    logPath_ = dir.path(s.tag + L".log");
    writeBytes(logPath_, velmora::sampleLog(s.log));
    writeBytes(dir.path(s.tag + L"_list.txt"), "20091111;11:11:11;3\r\n20091212;12:12:12;5\r\n");
    addin_ = createAddIn();
    conn_ = make<Connection>();
    table_ = make<Table>(tableStore_);
    list_ = make<List>(listStore_);
  }
  static constexpr int kSteps = 9;

  std::wstring step(int i) {
    ILanguageExtender* ext = addin_.ext.get();
    switch (i) {
      case 0: {
        HRESULT hr = addin_.initDone->Init(conn_.get());
        hr = FAILED(hr) ? hr : setProp(ext, 0, vstr(logPath_));
        ArgArray period{vstr(s_.period[0]), vstr(s_.period[1]), vstr(s_.period[2]), vstr(s_.period[3])};
        return std::to_wstring(hr) + callFunc(ext, 1, period).describe();
      }
      case 1: {
        std::wstring out;
        for (const auto& [text, name] : s_.filters) {
          ArgArray args{vstr(text), vstr(name)};
          out += callFunc(ext, 2, args).describe() + L";";
        }
        for (const auto& [n, value] : s_.props) out += std::to_wstring(setProp(ext, n, vstr(value))) + L";";
        return out;
      }
      case 2: {
        ArgArray args{vlong(0), vobj(table_.get())};
        CallResult r = callFunc(ext, 0, args);
        position_ = r.value.rfind(L"I4 ", 0) == 0 ? std::stol(r.value.substr(3)) : -1;
        return r.describe() + L"\n" + join(contents(tableStore_));
      }
      case 3:
        return properties();
      case 4: {
        ArgArray args{vlong(0), vobj(list_.get())};
        return callFunc(ext, 4, args).describe() + L"\n" + join(contents(listStore_));
      }
      case 5: {
        writeBytes(logPath_, s_.appended, true);
        ArgArray args{vlong(position_), vobj(table_.get())};
        return callFunc(ext, 0, args).describe() + L"\n" + join(contents(tableStore_));
      }
      case 6: {
        ArgArray set{vstr(s_.laterFilter.first), vstr(s_.laterFilter.second)};
        ArgArray get{vstr(s_.laterFilter.second)};
        std::wstring out = callFunc(ext, 2, set).describe() + L" " + callFunc(ext, 3, get).describe();
        MemoryValueTable again;
        auto t = make<Table>(again);
        ArgArray args{vlong(0), vobj(t.get())};
        return out + callFunc(ext, 0, args).describe() + L"\n" + join(contents(again));
      }
      case 7: {
        const std::wstring kept = dir_.path(s_.tag + L"_kept.log"), errors = dir_.path(s_.tag + L"_errors.log");
        const std::wstring replaced = dir_.path(s_.tag + L"_replaced.log");
        ArgArray strip{vstr(kept), vstr(errors)};
        ArgArray replace{vstr(replaced), vstr(dir_.path(s_.tag + L"_list.txt"))};
        std::wstring out = callFunc(ext, 5, strip).describe() + L" " + callFunc(ext, 6, replace).describe();
        return out + L" " + fingerprint(readBytes(kept)) + L" " + fingerprint(readBytes(errors)) + L" " +
               fingerprint(readBytes(replaced));
      }
      default:
        return properties() + std::to_wstring(addin_.initDone->Done());
    }
  }

 private:
  std::wstring properties() {
    std::wstring out;
    for (long n = 0; n <= 12; ++n) {
      VARIANT v = getProp(addin_.ext.get(), n);
      out += variantText(v) + L"|";
      VariantClear(&v);
    }
    return out;
  }

  TempDir& dir_;
  Settings s_;
  std::wstring logPath_;
  AddIn addin_;
  com_ptr<Connection> conn_;
  MemoryValueTable tableStore_;
  MemoryValueList listStore_;
  com_ptr<Table> table_;
  com_ptr<List> list_;
  long position_ = 0;
};

Settings first() {
  Settings s;
  s.tag = L"first";
  s.log.days = 4;
  s.log.perDay = 200;
  s.log.seed = 31;
  s.appended = "20050104;23:59:58;Ivanov;E;Docs;DocWrite;1;late;O1;doc\r\n";
  s.period = {L"20050102", L"08:00:00", L"20050104", L""};
  s.filters = {{L"|docwrite|DocPassed|", L"FilterOperation"}};
  s.props = {{6, L"1010010001"}, {7, L"1111"}, {11, L"0000"}};
  s.laterFilter = {L"|а|", L"FilterRem"};
  return s;
}

Settings second() {
  Settings s;
  s.tag = L"second";
  s.log.days = 3;
  s.log.perDay = 300;
  s.log.seed = 32;
  s.log.startDate = 20060301;
  s.appended = "20060303;23:59:59;Petrov;E;Docs;DocWrite;1;more;O2;doc\r\n";
  s.period = {L"20060301", L"", L"20060303", L"23:59:59"};
  s.filters = {{L"|Петров А.С.|Кладовщик|Petrov|", L"FilterUsers"}};
  s.props = {{8, L"Пользователь,Действие"}, {9, L"Действие"}, {11, L"1"}, {12, L"1"}};
  s.laterFilter = {L"|O1|O2|", L"FilterIdObj"};
  return s;
}

TEST(TwoObjects, InterleavedCallsGiveWhatEachGivesAlone) {
  TempDir dir(L"two");
  std::vector<std::wstring> aloneFirst, aloneSecond;
  {
    Scenario a(dir, first());
    for (int i = 0; i < Scenario::kSteps; ++i) aloneFirst.push_back(a.step(i));
  }
  {
    Scenario b(dir, second());
    for (int i = 0; i < Scenario::kSteps; ++i) aloneSecond.push_back(b.step(i));
  }
  // The two differ, so that one's state showing in the other would tell.
  ASSERT_NE(aloneFirst[2], aloneSecond[2]);
  ASSERT_NE(aloneFirst[3], aloneSecond[3]);
  ASSERT_GT(aloneFirst[2].size(), 1000u);
  ASSERT_GT(aloneSecond[2].size(), 100u);
  ASSERT_NE(aloneFirst[5], aloneFirst[2]) << "resuming found the appended record";
  ASSERT_NE(aloneSecond[5], aloneSecond[2]) << "resuming found the appended record";

  Scenario a(dir, first());
  Scenario b(dir, second());
  for (int i = 0; i < Scenario::kSteps; ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    // In both orders, so that each object's step follows the other's.
    if (i % 2) {
      EXPECT_EQ(a.step(i), aloneFirst[i]);
      EXPECT_EQ(b.step(i), aloneSecond[i]);
    } else {
      EXPECT_EQ(b.step(i), aloneSecond[i]);
      EXPECT_EQ(a.step(i), aloneFirst[i]);
    }
  }
}

}  // namespace
