// The host's script objects as the add-in calls them: the connection object
// handed to Init, the value table of GetData and the value list of GetUsers.
// Every operation goes by name; a failing call throws HostError.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#include "addin/host_call.h"
#include "script/host.h"

namespace velmora {

class HostConnection {
 public:
  explicit HostConnection(com_ptr<IDispatch> object);
  void RegisterProfileAs(U16View profile);
  // value is passed by reference; the host fills it.
  void Read(U16View name, VARIANT& value);
  void Write(U16View name, VARIANT& value);
  void AddError(std::int16_t code, U16View source, U16View description, std::int16_t last);

 private:
  HostCaller caller_;
};

class HostValueTable final : public ValueTable {
 public:
  explicit HostValueTable(com_ptr<IDispatch> object);
  std::int32_t ColumnCount() override;
  std::int32_t LinesCnt() override;
  void DeleteLines() override;
  void DeleteColumn(std::int32_t column) override;
  void NewColumn(U16View name, U16View typeName, std::optional<std::int16_t> length) override;
  void NewLine() override;
  void SetValue(std::int32_t row, std::int16_t column, U16View value) override;
  void SetValue(std::int32_t row, U16View columnName, std::int16_t value) override;
  void GroupBy(U16View columns, U16View summedColumn) override;
  void Sort(U16View columns) override;

 private:
  HostCaller caller_;
};

class HostValueList final : public ValueList {
 public:
  explicit HostValueList(com_ptr<IDispatch> object);
  void RemoveAll() override;
  void AddValue(U16View value, U16View presentation) override;
  std::int32_t GetListSize() override;
  void Sort() override;

 private:
  HostCaller caller_;
};

}  // namespace velmora
