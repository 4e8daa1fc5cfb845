#include "cli/data_stream.h"

#include <algorithm>
#include <cstdio>

#include "cli/terminal.h"
#include "core/failure.h"
#include "core/result_columns.h"
#include "memhost/column_list.h"
#include "memhost/memory_host.h"
#include "memhost/table_model.h"
#include "text/codepage.h"

namespace velmora::cli {
namespace {

std::vector<std::string> utf8Names(const std::vector<U16String>& names) {
  std::vector<std::string> out;
  for (const U16String& name : names) out.push_back(toUtf8(name));
  return out;
}

}  // namespace

std::vector<SortKey> DataStream::sortKeys(const ResolvedList& order, const std::vector<bool>& numeric) {
  std::vector<SortKey> keys;
  for (const ColumnRef& c : order.columns) keys.push_back(SortKey{c.column, c.descending, numeric[c.column]});
  return keys;
}

DataStream::DataStream(LogSetReader& set, const DataQuery& query, Io& io, bool progress)
    : DataStream(nullptr, &set, query, io, progress) {
  lastOf_.assign(set.size(), -1);
}

DataStream::DataStream(Reader& reader, const DataQuery& query, Io& io, bool progress)
    : DataStream(&reader, nullptr, query, io, progress) {}

DataStream::DataStream(Reader* reader, LogSetReader* set, const DataQuery& query, Io& io, bool progress)
    : reader_(reader),
      set_(set),
      query_(query),
      io_(io),
      shaper_(query.fields, query.translated, io.codePage()),
      printer_(io.format, io.out, io.codePage(), io.outIsTerminal),
      utf8_(io.codePage()) {
  const std::vector<U16String> names = query.columnNames();
  const std::size_t n = names.size();
  plainNames_ = utf8Names(names);
  plainNumeric_.assign(n, false);
  cells_.resize(n);
  texts_.resize(n + 1);
  views_.resize(n + 1);
  grouping_ = query.grouping;
  ordering_ = query.ordering;

  if (grouping_) {
    // The table before grouping: the chosen columns and the count column.
    std::vector<U16String> before = names;
    before.emplace_back(kCountColumn);
    const std::size_t count = query.countColumn();
    std::vector<std::size_t> grouped;
    for (const ColumnRef& g : query.group.columns) {
      grouped.push_back(g.column);
      if (g.column != count) groupedColumns_.push_back(g.column);
    }
    // Grouping keeps the grouping columns and the summed count, in table order.
    grouper_ = std::make_unique<Grouper>(std::move(grouped), count, before.size());
    std::vector<U16String> keptNames;
    for (const GroupLayout::Kept& k : grouper_->layout().kept) {
      keptNames.push_back(before[k.column]);
      groupedNumeric_.push_back(k.column == count);
    }
    groupedNames_ = utf8Names(keptNames);
    orderGrouped_ = sortKeys(query.orderGrouped, groupedNumeric_);
  }
  // Without a start GetData never groups, and sorts the plain table.
  orderPlain_ = sortKeys(query.orderPlain, plainNumeric_);
  if (ordering_ && !grouping_) store_ = std::make_unique<RowStore>(n);
  printer_.setNotes(&io_.err);
  printer_.setColumns(grouping_ ? groupedNames_ : plainNames_, grouping_ ? groupedNumeric_ : plainNumeric_);
  // Rows printed to the terminal as they come show the progress themselves.
  if (progress && (grouping_ || ordering_ || !isTerminal(stdout))) progress_ = std::make_unique<ProgressLine>(io.err);
}

DataStream::~DataStream() {
  if (reader_) reader_->setProgress(nullptr);
  if (set_) set_->setProgress(nullptr);
}

SetScanResult DataStream::readSet(SetPosition position, bool flush) {
  if (progress_) set_->setProgress([this](std::int64_t done, std::int64_t total) { progress_->update(done, total); });
  SetScanResult scan;
  try {
    scan = set_->scan(*this, position);
  } catch (...) {
    scan.next = {};
    scan.failure = currentFailure();
  }
  set_->setProgress(nullptr);
  oversize_ = set_->oversizeRecords();
  firstOversize_ = set_->firstOversize();
  if (flush && !grouping_ && !ordering_) printer_.flush(true);
  return scan;
}

ScanResult DataStream::read(std::int64_t position, bool flush) {
  if (progress_) reader_->setProgress([this](std::int64_t done, std::int64_t total) { progress_->update(done, total); });
  ScanResult scan;
  try {
    scan = reader_->scan(position >= 1 ? position : 0, *this);
  } catch (...) {
    scan.next = -1;
    scan.failure = currentFailure();
  }
  reader_->setProgress(nullptr);
  // As the script class counts them: only a scan that began counts afresh.
  if (reader_->scanStart() >= 1) {
    oversize_ = reader_->oversizeRecords();
    firstOversize_ = reader_->firstOversize();
  }
  // The rows found go out even when the read failed after them.
  if (flush && !grouping_ && !ordering_) printer_.flush(true);
  return scan;
}

bool DataStream::record(const Record& record) {
  if (set_) lastOf_[static_cast<std::size_t>(record.log)] = record.position;
  shaper_.shape(record.fields, cells_.data());
  auto text = [&](std::size_t c) {
    texts_[c].clear();
    if (cells_[c].logBytes) {
      utf8_.append(cells_[c].text, texts_[c]);
    } else {
      texts_[c].assign(cells_[c].text);
    }
    views_[c] = texts_[c];
  };
  if (grouping_) {
    for (std::size_t c : groupedColumns_) text(c);
    grouper_->add(views_.data());
  } else if (ordering_) {
    for (std::size_t c = 0; c < cells_.size(); ++c) text(c);
    store_->add(views_.data());
  } else {
    printer_.row(cells_.data());
  }
  // Nobody reads the output any more: the read ends.
  return static_cast<bool>(io_.out);
}

void DataStream::windowDone(std::int64_t, std::int64_t) {
  // A window's rows are complete: they go out now, not when some buffer
  // happens to fill.
  if (!grouping_ && !ordering_) printer_.flush(false);
}

std::optional<StreamFailure> DataStream::conclude(bool startFound) {
  if (progress_) progress_->clear();
  const bool grouped = grouping_ && startFound;
  if (grouped && query_.group.failure) return query_.group.failure;
  const ResolvedList& order = grouped ? query_.orderGrouped : query_.orderPlain;
  if (ordering_ && order.failure) return order.failure;
  const std::vector<SortKey>& keys = grouped ? orderGrouped_ : orderPlain_;
  if (grouped) {
    RowStore rows = grouper_->rows();
    grouper_->clear();
    if (ordering_) rows.sort(keys);
    printer_.printAll(StoredRows(rows, groupedNames_, groupedNumeric_));
  } else if (ordering_ && !grouping_) {
    store_->sort(keys);
    printer_.printAll(StoredRows(*store_, plainNames_, plainNumeric_));
    store_->clear();
  }
  printer_.flush(true);
  return std::nullopt;
}

}  // namespace velmora::cli
