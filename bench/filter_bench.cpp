// Records per second through Reader::filterRecord: cutting a record into its
// fields and applying the filters, on a realistic sample log held in memory.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter_text.h"
#include "core/reader.h"
#include "sample/sample.h"
#include "text/codepage.h"

namespace {

// A reader of no log, for filterRecord alone; text (a filter as a script
// writes it) on field, or no filter.
std::unique_ptr<velmora::Reader> reader(int field = 0, velmora::U16View text = u"") {
  velmora::ReadQuery query;
  if (field != 0) query.filters[static_cast<std::size_t>(field)] = velmora::parseFilterText(field, text, false).value();
  return std::make_unique<velmora::Reader>(u"", query, velmora::CodePage::current());
}

struct Sample {
  std::string bytes;
  std::vector<std::string_view> lines;  // without CR LF
  std::size_t lineBytes = 0;
};

const Sample& sample() {
  static const Sample s = [] {
    Sample out;
    velmora::SampleOptions options;
    options.days = 40;
    options.perDay = 5000;
    out.bytes = velmora::sampleLog(options);
    std::string_view rest = out.bytes;
    for (std::size_t end; (end = rest.find("\r\n")) != std::string_view::npos; rest.remove_prefix(end + 2)) {
      out.lines.push_back(rest.substr(0, end));
      out.lineBytes += end + 2;
    }
    return out;
  }();
  return s;
}

void run(benchmark::State& state, velmora::Reader& r) {
  const Sample& s = sample();
  std::size_t passed = 0;
  for (auto _ : state) {
    for (std::string_view line : s.lines) passed += r.filterRecord(line) ? 1 : 0;
    benchmark::DoNotOptimize(passed);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * s.lines.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.lineBytes));
  state.counters["passed"] = benchmark::Counter(static_cast<double>(passed) / state.iterations());
  state.counters["records"] = benchmark::Counter(static_cast<double>(s.lines.size()));
}

void NoFilter(benchmark::State& state) {
  run(state, *reader());
}
BENCHMARK(NoFilter)->Unit(benchmark::kMillisecond);

void UsersFilterRejects(benchmark::State& state) {
  run(state, *reader(3, u"|Никто|Гость|Аудитор|"));
}
BENCHMARK(UsersFilterRejects)->Unit(benchmark::kMillisecond);

void UsersFilterThousandNamesRejects(benchmark::State& state) {
  std::u16string users = u"|";
  for (int k = 0; k < 1000; ++k) {
    const std::string n = std::to_string(k);
    users += u"Сотрудник " + std::u16string(n.begin(), n.end()) + u"|";
  }
  run(state, *reader(3, users));
}
BENCHMARK(UsersFilterThousandNamesRejects)->Unit(benchmark::kMillisecond);

void CommentItemFilter(benchmark::State& state) {
  run(state, *reader(8, u"|деление|склад|касса|"));
}
BENCHMARK(CommentItemFilter)->Unit(benchmark::kMillisecond);

}  // namespace
