// Records per second through FilterRecord: cutting a record into its fields
// and applying the filters, on a realistic sample log held in memory.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "script/journal.h"
#include "sample/sample.h"

namespace {

using velmora::Journal;

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

void run(benchmark::State& state, Journal& j) {
  const Sample& s = sample();
  std::size_t passed = 0;
  for (auto _ : state) {
    for (std::string_view line : s.lines) passed += j.FilterRecord(line) ? 1 : 0;
    benchmark::DoNotOptimize(passed);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * s.lines.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.lineBytes));
  state.counters["passed"] = benchmark::Counter(static_cast<double>(passed) / state.iterations());
  state.counters["records"] = benchmark::Counter(static_cast<double>(s.lines.size()));
}

void NoFilter(benchmark::State& state) {
  Journal j;
  run(state, j);
}
BENCHMARK(NoFilter)->Unit(benchmark::kMillisecond);

void UsersFilterRejects(benchmark::State& state) {
  Journal j;
  j.SetFilter(u"|Никто|Гость|Аудитор|", u"FilterUsers");
  run(state, j);
}
BENCHMARK(UsersFilterRejects)->Unit(benchmark::kMillisecond);

void UsersFilterThousandNamesRejects(benchmark::State& state) {
  Journal j;
  std::u16string users = u"|";
  for (int k = 0; k < 1000; ++k) {
    const std::string n = std::to_string(k);
    users += u"Сотрудник " + std::u16string(n.begin(), n.end()) + u"|";
  }
  j.SetFilter(users, u"FilterUsers");
  run(state, j);
}
BENCHMARK(UsersFilterThousandNamesRejects)->Unit(benchmark::kMillisecond);

void CommentItemFilter(benchmark::State& state) {
  Journal j;
  j.SetFilter(u"|деление|склад|касса|", u"FilterRem");
  run(state, j);
}
BENCHMARK(CommentItemFilter)->Unit(benchmark::kMillisecond);

}  // namespace
