#include "sample/sample.h"

#include <algorithm>
#include <array>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace velmora {
namespace {

// ---- fixed tables ---------------------------------------------------------

enum Mode : unsigned { kE = 1, kC = 2, kM = 4, kD = 8 };

// What the object fields of a record name.
enum class Obj : unsigned char { None, Doc, Ref, Acc, Const, File, Report };
// What kind of comment a record carries.
enum class Note : unsigned char { None, Doc, Session, Error, Restruct, Totals };

struct EventKind {
  std::u16string_view code;
  std::u16string_view category;
  char num;         // field 7; '5' marks an error record
  Obj obj;
  Note note;
  unsigned modes;   // run modes in which the host logs this event
  int weight;       // relative frequency
};

// The 54 catalogued codes, then codes of the categories that have no
// catalogued event (the host logs them, nothing translates them).
constexpr std::array<EventKind, 66> kKinds{{
    {u"AccDel", u"Accs", '3', Obj::Acc, Note::None, kE | kC, 1},
    {u"AccMarkDel", u"Accs", '2', Obj::Acc, Note::None, kE | kC, 1},
    {u"AccNew", u"Accs", '1', Obj::Acc, Note::None, kE | kC, 1},
    {u"AccWrite", u"Accs", '1', Obj::Acc, Note::None, kE | kC, 3},
    {u"ArchiveEnd", u"Archive", '1', Obj::File, Note::None, kC, 1},
    {u"ArchiveStart", u"Archive", '1', Obj::File, Note::None, kC, 1},
    {u"BatchErr", u"Batch", '5', Obj::None, Note::Error, kE, 1},
    {u"CloseSession", u"Sys", '1', Obj::None, Note::Session, kE | kC | kM | kD, 40},
    {u"ConstDel", u"Consts", '2', Obj::Const, Note::None, kE | kD, 1},
    {u"ConstWrite", u"Consts", '1', Obj::Const, Note::None, kE | kD, 3},
    {u"DocDel", u"Docs", '3', Obj::Doc, Note::Doc, kE | kD, 2},
    {u"DocMakeNotPassed", u"Docs", '2', Obj::Doc, Note::Doc, kE | kD, 4},
    {u"DocMarkDel", u"Docs", '2', Obj::Doc, Note::Doc, kE | kD, 4},
    {u"DocNew", u"Docs", '1', Obj::Doc, Note::Doc, kE | kD, 25},
    {u"DocNotPassed", u"Docs", '5', Obj::Doc, Note::Error, kE | kD, 3},
    {u"DocNotWrite", u"Docs", '5', Obj::Doc, Note::Error, kE | kD, 3},
    {u"DocOpen", u"Docs", '1', Obj::Doc, Note::None, kE | kD, 70},
    {u"DocOperOff", u"Docs", '2', Obj::Doc, Note::Doc, kE, 2},
    {u"DocOperOn", u"Docs", '2', Obj::Doc, Note::Doc, kE, 2},
    {u"DocPassed", u"Docs", '1', Obj::Doc, Note::Doc, kE | kD, 45},
    {u"DocTimeChanged", u"Docs", '2', Obj::Doc, Note::Doc, kE, 3},
    {u"DocUnmarkDel", u"Docs", '2', Obj::Doc, Note::Doc, kE, 1},
    {u"DocWrite", u"Docs", '1', Obj::Doc, Note::Doc, kE | kD, 80},
    {u"DocWriteAndRepassed", u"Docs", '1', Obj::Doc, Note::Doc, kE | kD, 20},
    {u"DocWriteNew", u"Docs", '1', Obj::Doc, Note::Doc, kE | kD, 25},
    {u"GrbgNewPerBuhTot", u"Grbgs", '1', Obj::None, Note::Totals, kE | kC, 2},
    {u"GrbgRclcAllBuhTot", u"Grbgs", '1', Obj::None, Note::Totals, kE | kC, 1},
    {u"GrbgRuntimeErr", u"Grbgs", '5', Obj::None, Note::Error, kE | kD, 6},
    {u"GrbgSyntaxErr", u"Grbgs", '5', Obj::None, Note::Error, kE | kD, 2},
    {u"OpenSession", u"Sys", '1', Obj::None, Note::Session, kE | kC | kM | kD, 40},
    {u"RefAttrDel", u"Refs", '2', Obj::Ref, Note::None, kE, 1},
    {u"RefAttrWrite", u"Refs", '1', Obj::Ref, Note::None, kE, 4},
    {u"RefDel", u"Refs", '3', Obj::Ref, Note::None, kE | kD, 1},
    {u"RefGrpMove", u"Refs", '2', Obj::Ref, Note::None, kE, 2},
    {u"RefMarkDel", u"Refs", '2', Obj::Ref, Note::None, kE | kD, 2},
    {u"RefNew", u"Refs", '1', Obj::Ref, Note::None, kE | kD, 10},
    {u"RefUnmarkDel", u"Refs", '2', Obj::Ref, Note::None, kE, 1},
    {u"RefWrite", u"Refs", '1', Obj::Ref, Note::None, kE | kD, 30},
    {u"RestructAcptEnd", u"Restruct", '1', Obj::None, Note::Restruct, kC, 1},
    {u"RestructAnalys", u"Restruct", '1', Obj::None, Note::Restruct, kC, 1},
    {u"RestructCopy", u"Restruct", '1', Obj::None, Note::Restruct, kC, 1},
    {u"RestructErr", u"Restruct", '5', Obj::None, Note::Error, kC, 1},
    {u"RestructSaveMD", u"Restruct", '1', Obj::None, Note::Restruct, kC, 1},
    {u"RestructStart", u"Restruct", '1', Obj::None, Note::Restruct, kC, 1},
    {u"RestructStatus", u"Restruct", '1', Obj::None, Note::Restruct, kC, 1},
    {u"RestructWarn", u"Restruct", '4', Obj::None, Note::Restruct, kC, 1},
    {u"UpDownDnldErr", u"UpDown", '5', Obj::File, Note::Error, kC, 1},
    {u"UpDownDnldFail", u"UpDown", '5', Obj::File, Note::Error, kC, 1},
    {u"UpDownDnldSuc", u"UpDown", '1', Obj::File, Note::None, kC, 2},
    {u"UpDownDnldToFile", u"UpDown", '1', Obj::File, Note::None, kC, 2},
    {u"UpDownUplFail", u"UpDown", '5', Obj::File, Note::Error, kC, 1},
    {u"UpDownUplFromFile", u"UpDown", '1', Obj::File, Note::None, kC, 1},
    {u"UpDownUplSuc", u"UpDown", '1', Obj::File, Note::None, kC, 1},
    {u"UsrDefChng", u"UsrDef", '1', Obj::None, Note::None, kC, 1},
    {u"CJRecalc", u"CJ", '1', Obj::None, Note::Totals, kE, 1},
    {u"CJWrite", u"CJ", '1', Obj::Doc, Note::None, kE, 2},
    {u"CorrProvsWrite", u"CorrProvs", '1', Obj::Acc, Note::None, kE | kC, 1},
    {u"TmplOperWrite", u"TmplOpers", '1', Obj::None, Note::None, kE, 1},
    {u"DistrDnld", u"Distr", '1', Obj::File, Note::None, kC, 1},
    {u"DistrUpl", u"Distr", '1', Obj::File, Note::None, kC, 1},
    {u"DoctorStart", u"Doctor", '1', Obj::None, Note::None, kC, 1},
    {u"DoctorEnd", u"Doctor", '1', Obj::None, Note::None, kC, 1},
    {u"ПечатьДокумента", u"$", '1', Obj::Doc, Note::None, kE, 6},
    {u"ВыгрузкаВБанк", u"$", '2', Obj::File, Note::None, kE, 2},
    {u"ОтчетСформирован", u"$", '1', Obj::Report, Note::None, kE | kD, 5},
    {u"ОшибкаОбмена", u"$", '5', Obj::File, Note::Error, kE, 1},
}};

// Relative frequency of the run modes among the modes an event allows.
constexpr std::array<std::pair<unsigned, int>, 4> kModeWeights{{{kE, 88}, {kC, 6}, {kM, 2}, {kD, 4}}};
constexpr std::array<char, 4> kModeLetters{'E', 'C', 'M', 'D'};

constexpr std::array<std::u16string_view, 12> kUsers{
    u"Администратор", u"Иванова Н.П.",  u"Петров А.С.",   u"Сидоренко", u"Бухгалтер",    u"Кладовщик",
    u"Главбух Орлова", u"Менеджер Ёлкин", u"Кассир Зуева",  u"Смирнов В.В.", u"Козлова", u"Зайцев Д.",
};
constexpr std::array<int, 12> kUserWeights{3, 20, 15, 8, 18, 12, 6, 10, 9, 7, 5, 4};

struct DocType {
  std::u16string_view name, prefix;
  int number;  // the identifier's type number
};
constexpr std::array<DocType, 8> kDocTypes{{
    {u"Приходная накладная", u"ПН", 12},
    {u"Расходная накладная", u"РН", 13},
    {u"Счет-фактура", u"СФ", 14},
    {u"Платежное поручение", u"ПП", 21},
    {u"Приходный кассовый ордер", u"ПКО", 22},
    {u"Расходный кассовый ордер", u"РКО", 23},
    {u"Авансовый отчет", u"АО", 31},
    {u"Доверенность", u"Д", 32},
}};

struct RefItem {
  std::u16string_view catalogue, item;
  int number;
};
constexpr std::array<RefItem, 14> kRefItems{{
    {u"Номенклатура", u"Гвоздь 100 мм", 41},
    {u"Номенклатура", u"Краска белая 2,5 кг", 41},
    {u"Номенклатура", u"Доска обрезная 50х150", 41},
    {u"Номенклатура", u"Цемент М500, мешок 50 кг", 41},
    {u"Контрагенты", u"ООО \"Ромашка\"", 42},
    {u"Контрагенты", u"ЗАО \"Вектор\"", 42},
    {u"Контрагенты", u"ИП Сидоров", 42},
    {u"Контрагенты", u"ОАО \"Стройторг\"", 42},
    {u"Сотрудники", u"Иванова Н.П.", 43},
    {u"Сотрудники", u"Ёлкин Ю.В.", 43},
    {u"Сотрудники", u"Зуева Е.А.", 43},
    {u"Склады", u"Основной склад", 44},
    {u"Склады", u"Склад №2", 44},
    {u"Банки", u"Городской банк, отд. 7813", 45},
}};

constexpr std::array<std::u16string_view, 8> kAccounts{u"41.1", u"60.1", u"62.1", u"50", u"51", u"10.1", u"19.3", u"90.1"};
constexpr std::array<std::u16string_view, 5> kConstants{u"ОсновнаяФирма", u"ДатаЗапрета", u"ОсновнойСклад",
                                                        u"ВалютаУчета", u"ГлавныйБухгалтер"};
constexpr std::array<std::u16string_view, 4> kFiles{u"C:\\Обмен\\выгрузка.zip", u"\\\\SERVER\\Exchange\\in.txt",
                                                    u"D:\\Архив\\base.zip", u"C:\\Обмен\\банк\\bank_in.txt"};
constexpr std::array<std::u16string_view, 4> kReports{u"Отчет ОборотноСальдоваяВедомость", u"Отчет КарточкаСчета",
                                                      u"Отчет ОстаткиТМЦ", u"Отчет Продажи за период"};

// Comments. Most records carry none; these are the ones that do.
constexpr std::array<std::u16string_view, 6> kDocNotes{
    u"Контрагент ООО \"Ромашка\"", u"Сумма 1 200,50 руб.", u"Основание: счет №", u"Исправлено по звонку",
    u"Возврат, см. акт", u"Перепроведен задним числом"};
constexpr std::array<std::u16string_view, 4> kSessionNotes{u"Компьютер БУХ-03", u"Компьютер СКЛАД-1",
                                                           u"Терминал TS01", u"Компьютер ГЛАВБУХ"};
constexpr std::array<std::u16string_view, 3> kRestructNotes{u"Изменены: Справочник.Номенклатура, Документ.Счет",
                                                            u"Новый реквизит \"Склад\"", u"Удален журнал \"Касса\""};
constexpr std::array<std::u16string_view, 2> kTotalsNotes{u"Период: Март 2005", u"Итоги рассчитаны по 31.03.05"};
// An error comment reads "module; строка N; message", as the host writes it.
constexpr std::array<std::u16string_view, 5> kErrorModules{u"Модуль документа ПриходнаяНакладная", u"Глобальный модуль",
                                                           u"Модуль формы Отчет", u"Модуль обработки Обмен",
                                                           u"Модуль проведения"};
constexpr std::array<std::u16string_view, 6> kErrorMessages{
    u"Деление на 0", u"Поле агрегатного объекта не обнаружено (Сумма)",
    u"Значение не представляет агрегатный объект", u"Переменная не определена (ТекСтрока)",
    u"Ошибка открытия файла: C:\\Обмен\\in.txt", u"Недостаточно \"Гвоздь 100 мм\"; не хватает 12,000"};

// ---- encoding ---------------------------------------------------------------

// The tables above hold ASCII and Russian letters only; 1251 places А..я in
// one run, with Ё, ё and № apart.
std::string to1251(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t u : text) {
    if (u < 0x80) out.push_back(static_cast<char>(u));
    else if (u >= 0x0410 && u <= 0x044F) out.push_back(static_cast<char>(0xC0 + (u - 0x0410)));
    else if (u == 0x0401) out.push_back(static_cast<char>(0xA8));
    else if (u == 0x0451) out.push_back(static_cast<char>(0xB8));
    else if (u == 0x2116) out.push_back(static_cast<char>(0xB9));
    else throw std::logic_error("sample table holds a character outside its code page");
  }
  return out;
}

template <std::size_t N>
std::vector<std::string> encodeAll(const std::array<std::u16string_view, N>& texts) {
  std::vector<std::string> out;
  for (auto t : texts) out.push_back(to1251(t));
  return out;
}

// ---- randomness -------------------------------------------------------------

// splitmix64: tiny, and identical everywhere (the standard distributions are not).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 <= result < n, for n > 0
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32); }
  bool percent(unsigned p) { return below(100) < p; }

 private:
  std::uint64_t state_;
};

// ---- dates ------------------------------------------------------------------

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysInMonth(int y, int m) {
  static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

struct Date {
  int y, m, d;
  int yyyymmdd() const { return y * 10000 + m * 100 + d; }
  void advance() {
    if (++d > daysInMonth(y, m)) {
      d = 1;
      if (++m > 12) m = 1, ++y;
    }
  }
};

// ---- the writer -------------------------------------------------------------

void appendDigits(std::string& out, unsigned value, int width) {
  char buf[12];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = n; i < width; ++i) out.push_back('0');
  while (n > 0) out.push_back(buf[--n]);
}

struct Encoded {
  std::vector<std::string> codes, categories, users, docNames, docPrefixes, refCatalogues, refItems, accounts,
      constants, files, reports, docNotes, sessionNotes, restructNotes, totalsNotes, errorModules, errorMessages;
  std::string constPrefix = to1251(u"Константа "), accPrefix = to1251(u"Счет "), dateWord = to1251(u" от "),
              lineWord = to1251(u"; строка ");
};

Encoded encodeTables() {
  Encoded e;
  for (const auto& k : kKinds) {
    e.codes.push_back(to1251(k.code));
    e.categories.push_back(to1251(k.category));
  }
  e.users = encodeAll(kUsers);
  for (const auto& t : kDocTypes) {
    e.docNames.push_back(to1251(t.name));
    e.docPrefixes.push_back(to1251(t.prefix));
  }
  for (const auto& r : kRefItems) {
    e.refCatalogues.push_back(to1251(r.catalogue));
    e.refItems.push_back(to1251(r.item));
  }
  e.accounts = encodeAll(kAccounts);
  e.constants = encodeAll(kConstants);
  e.files = encodeAll(kFiles);
  e.reports = encodeAll(kReports);
  e.docNotes = encodeAll(kDocNotes);
  e.sessionNotes = encodeAll(kSessionNotes);
  e.restructNotes = encodeAll(kRestructNotes);
  e.totalsNotes = encodeAll(kTotalsNotes);
  e.errorModules = encodeAll(kErrorModules);
  e.errorMessages = encodeAll(kErrorMessages);
  return e;
}

template <std::size_t N>
std::size_t pickWeighted(Random& rnd, const std::array<int, N>& weights, int total) {
  int r = static_cast<int>(rnd.below(static_cast<std::uint32_t>(total)));
  for (std::size_t i = 0; i < N; ++i) {
    if (r < weights[i]) return i;
    r -= weights[i];
  }
  return N - 1;
}

class Generator {
 public:
  Generator(const SampleOptions& o, const SampleSink& sink) : options_(o), sink_(sink), rnd_(o.seed), e_(encodeTables()) {
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
      kindWeights_[i] = kKinds[i].weight;
      kindTotal_ += kKinds[i].weight;
    }
    for (int w : kUserWeights) userTotal_ += w;
    // One forced record per event kind in its first mode, then the sessions
    // in the modes that nothing else is logged in.
    for (std::size_t i = 0; i < kKinds.size(); ++i) coverage_.push_back({i, firstMode(kKinds[i].modes)});
    for (std::size_t i = 0; i < kKinds.size(); ++i)
      if (kKinds[i].code == u"OpenSession") {
        coverage_.push_back({i, 2});
        coverage_.push_back({i, 3});
      }
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
      if (kKinds[i].code == u"OpenSession") openKind_ = i;
      if (kKinds[i].code == u"CloseSession") closeKind_ = i;
    }
    docCounters_.fill(100);
    line_.reserve(1024);
    block_.reserve(kBlock + 1024);
  }

  SampleSummary run() {
    Date date = startDate();
    std::vector<int> seconds;
    const bool byteTarget = options_.targetBytes != 0;
    for (int day = 0; byteTarget || day < options_.days; ++day, date.advance()) {
      if (date.y > 9999) break;
      daySeconds(seconds);
      setDateText(date);
      for (int second : seconds) {
        writeRecord(second);
        if (byteTarget && summary_.bytes >= options_.targetBytes) return finish();
      }
    }
    return finish();
  }

 private:
  static constexpr std::size_t kBlock = 65536;
  std::size_t openKind_ = 0, closeKind_ = 0;
  std::array<bool, kUserWeights.size() * 4> sessionOpen_{};  // per user and run mode

  static unsigned firstMode(unsigned modes) {
    for (unsigned i = 0; i < 4; ++i)
      if (modes & kModeWeights[i].first) return i;
    return 0;
  }

  Date startDate() const {
    const int v = options_.startDate;
    return Date{v / 10000, v / 100 % 100, v % 100};
  }

  // The seconds of the day's records, ascending: mostly working hours.
  void daySeconds(std::vector<int>& out) {
    out.resize(static_cast<std::size_t>(options_.perDay));
    for (int& s : out)
      s = rnd_.percent(85) ? 8 * 3600 + static_cast<int>(rnd_.below(11 * 3600)) : static_cast<int>(rnd_.below(86400));
    std::sort(out.begin(), out.end());
  }

  void setDateText(const Date& d) {
    date_ = d.yyyymmdd();
    key_.clear();
    appendDigits(key_, static_cast<unsigned>(d.yyyymmdd()), 8);
    shortDate_.clear();
    appendDigits(shortDate_, static_cast<unsigned>(d.d), 2);
    shortDate_.push_back('.');
    appendDigits(shortDate_, static_cast<unsigned>(d.m), 2);
    shortDate_.push_back('.');
    appendDigits(shortDate_, static_cast<unsigned>(d.y % 100), 2);
  }

  unsigned pickMode(unsigned modes) {
    int total = 0;
    for (auto [m, w] : kModeWeights)
      if (modes & m) total += w;
    int r = static_cast<int>(rnd_.below(static_cast<std::uint32_t>(total)));
    for (unsigned i = 0; i < 4; ++i) {
      if (!(modes & kModeWeights[i].first)) continue;
      if (r < kModeWeights[i].second) return i;
      r -= kModeWeights[i].second;
    }
    return 0;
  }

  void writeRecord(int second) {
    std::size_t kind;
    unsigned mode;
    if (summary_.records % 8 == 3 && covered_ < coverage_.size()) {
      kind = coverage_[covered_].first;
      mode = coverage_[covered_].second;
      ++covered_;
    } else {
      kind = pickWeighted(rnd_, kindWeights_, kindTotal_);
      mode = pickMode(kKinds[kind].modes);
    }
    const std::size_t user = pickWeighted(rnd_, kUserWeights, userTotal_);
    // Sessions as a platform writes them: a user's connection in a run mode
    // opens, and its next session record closes it. Those still open at the
    // end are left open, as after a crash.
    if (kind == openKind_ || kind == closeKind_) {
      bool& open = sessionOpen_[user * 4 + mode];
      kind = open ? closeKind_ : openKind_;
      open = !open;
    }
    const EventKind& k = kKinds[kind];
    std::string& l = line_;
    l.clear();
    l += key_;
    l.push_back(';');
    appendDigits(l, static_cast<unsigned>(second / 3600), 2);
    l.push_back(':');
    appendDigits(l, static_cast<unsigned>(second / 60 % 60), 2);
    l.push_back(':');
    appendDigits(l, static_cast<unsigned>(second % 60), 2);
    l.push_back(';');
    l += e_.users[user];
    l.push_back(';');
    l.push_back(kModeLetters[mode]);
    l.push_back(';');
    l += e_.categories[kind];
    l.push_back(';');
    l += e_.codes[kind];
    l.push_back(';');
    l.push_back(k.num);
    l.push_back(';');
    if (k.num == '5') {
      // The host ends an error record after its comment, with two empty
      // fields; the comment keeps its own ";".
      appendErrorNote();
      l += ";;\r\n";
      ++summary_.errorRecords;
    } else {
      appendNote(k.note);
      l.push_back(';');
      appendObject(k.obj);
      l += "\r\n";
    }
    emit();
  }

  void appendNote(Note note) {
    std::string& l = line_;
    switch (note) {
      case Note::None: break;
      case Note::Doc:
        if (rnd_.percent(25)) {
          std::size_t i = rnd_.below(static_cast<std::uint32_t>(e_.docNotes.size()));
          l += e_.docNotes[i];
          if (i == 2) appendDigits(l, 1 + rnd_.below(9999), 1);
        }
        break;
      case Note::Session:
        if (rnd_.percent(40)) l += e_.sessionNotes[rnd_.below(static_cast<std::uint32_t>(e_.sessionNotes.size()))];
        break;
      case Note::Restruct: l += e_.restructNotes[rnd_.below(static_cast<std::uint32_t>(e_.restructNotes.size()))]; break;
      case Note::Totals: l += e_.totalsNotes[rnd_.below(static_cast<std::uint32_t>(e_.totalsNotes.size()))]; break;
      case Note::Error: appendErrorNote(); break;
    }
  }

  void appendErrorNote() {
    line_ += e_.errorModules[rnd_.below(static_cast<std::uint32_t>(e_.errorModules.size()))];
    line_ += e_.lineWord;
    appendDigits(line_, 1 + rnd_.below(2400), 1);
    line_ += "; ";
    line_ += e_.errorMessages[rnd_.below(static_cast<std::uint32_t>(e_.errorMessages.size()))];
  }

  // Fields 9 and 10: the object identifier and its presentation.
  void appendObject(Obj obj) {
    std::string& l = line_;
    switch (obj) {
      case Obj::None: l.push_back(';'); break;
      case Obj::Doc: {
        std::size_t t = rnd_.below(static_cast<std::uint32_t>(kDocTypes.size()));
        // New documents get the next number; others name a recent one.
        unsigned number = docCounters_[t] - rnd_.below(std::min(docCounters_[t], 60u));
        if (rnd_.percent(20)) number = ++docCounters_[t];
        l += "O/";
        appendDigits(l, static_cast<unsigned>(kDocTypes[t].number), 1);
        l.push_back('/');
        appendDigits(l, number, 6);
        l.push_back(';');
        l += e_.docNames[t];
        l.push_back(' ');
        l += e_.docPrefixes[t];
        l.push_back('-');
        appendDigits(l, number, 6);
        l += e_.dateWord;
        l += shortDate_;
        break;
      }
      case Obj::Ref: {
        std::size_t i = rnd_.below(static_cast<std::uint32_t>(kRefItems.size()));
        l += "R/";
        appendDigits(l, static_cast<unsigned>(kRefItems[i].number), 1);
        l.push_back('/');
        appendDigits(l, static_cast<unsigned>(i + 1), 6);
        l.push_back(';');
        l += e_.refCatalogues[i];
        l += ": ";
        l += e_.refItems[i];
        break;
      }
      case Obj::Acc: {
        std::size_t i = rnd_.below(static_cast<std::uint32_t>(e_.accounts.size()));
        l += "A/";
        l += e_.accounts[i];
        l.push_back(';');
        l += e_.accPrefix;
        l += e_.accounts[i];
        break;
      }
      case Obj::Const: {
        std::size_t i = rnd_.below(static_cast<std::uint32_t>(e_.constants.size()));
        l += "K/";
        appendDigits(l, static_cast<unsigned>(i + 1), 1);
        l.push_back(';');
        l += e_.constPrefix;
        l += e_.constants[i];
        break;
      }
      case Obj::File:
        l.push_back(';');
        l += e_.files[rnd_.below(static_cast<std::uint32_t>(e_.files.size()))];
        break;
      case Obj::Report:
        l.push_back(';');
        l += e_.reports[rnd_.below(static_cast<std::uint32_t>(e_.reports.size()))];
        break;
    }
  }

  void emit() {
    if (block_.size() + line_.size() > kBlock) flush();
    block_ += line_;
    ++summary_.records;
    summary_.bytes += line_.size();
    if (summary_.firstDate == 0) summary_.firstDate = date_;
    summary_.lastDate = date_;
  }

  void flush() {
    if (!block_.empty()) sink_(block_);
    block_.clear();
  }

  SampleSummary finish() {
    flush();
    return summary_;
  }

  const SampleOptions& options_;
  const SampleSink& sink_;
  Random rnd_;
  Encoded e_;
  std::array<int, kKinds.size()> kindWeights_{};
  int kindTotal_ = 0;
  int userTotal_ = 0;
  std::vector<std::pair<std::size_t, unsigned>> coverage_;
  std::size_t covered_ = 0;
  std::array<unsigned, kDocTypes.size()> docCounters_{};
  int date_ = 0;
  std::string key_, shortDate_, line_, block_;
  SampleSummary summary_;
};

}  // namespace

void checkSampleOptions(const SampleOptions& options) {
  if (options.days < 0 || options.perDay < 0)
    throw std::invalid_argument("sample days and records per day must not be negative");
  if (options.targetBytes != 0 && options.perDay == 0)
    throw std::invalid_argument("a sample byte target needs at least one record per day");
  const int v = options.startDate, y = v / 10000, m = v / 100 % 100, d = v % 100;
  if (v < 0 || y < 1901 || y > 9999 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m))
    throw std::invalid_argument("the sample's start date is not a date of 1901 to 9999 written YYYYMMDD");
}

SampleSummary writeSampleLog(const SampleSink& sink, const SampleOptions& options) {
  checkSampleOptions(options);
  return Generator(options, sink).run();
}

SampleSummary writeSampleLog(std::ostream& out, const SampleOptions& options) {
  return writeSampleLog([&out](std::string_view block) { out.write(block.data(), static_cast<std::streamsize>(block.size())); },
                        options);
}

std::string sampleLog(const SampleOptions& options, SampleSummary* summary) {
  std::string log;
  SampleSummary s = writeSampleLog([&log](std::string_view block) { log.append(block); }, options);
  if (summary) *summary = s;
  return log;
}

}  // namespace velmora
