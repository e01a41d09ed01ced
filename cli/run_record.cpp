#include "cli/run_record.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace romsmith {
namespace {

using Json = nlohmann::json;

// Reads `text` against a scanf pattern that must take it up to `end` (the
// rest may only be the line break).
template <typename... Values>
bool Scan(const std::string& text, const char* pattern, Values*... values) {
  int used = -1;
  std::string with_end = std::string(pattern) + "%n";
  const int got = std::sscanf(text.c_str(), with_end.c_str(), values..., &used);
  if (got != static_cast<int>(sizeof...(Values)) || used < 0) return false;
  const std::string rest = text.substr(static_cast<std::size_t>(used));
  return rest.empty() || rest == "\n" || rest == "\r\n";
}

// The lines of the command bodies that carry a result, one pattern each.
bool TakeChecksum(const std::string& text, RunResults& r) {
  unsigned sum = 0;
  if (!Scan(text, "Info: checksum completed, it is 0x%x.", &sum)) return false;
  r.checksum = sum;
  return true;
}

bool TakeDeviceCode(const std::string& text, RunResults& r) {
  unsigned code = 0;
  unsigned value = 0;
  const char* endings[] = {"success.", "failed."};
  for (const char* ending : endings) {
    const std::string alone = std::string("Info: device code is 0x%x, target test ") + ending;
    const std::string read = std::string("Info: device code is 0x%x, read value is 0x%x, target test ") + ending;
    if (Scan(text, alone.c_str(), &code)) {
      r.device_code = code;
      return true;
    }
    if (Scan(text, read.c_str(), &code, &value)) {
      r.device_code = code;
      r.read_value = value;
      return true;
    }
  }
  return false;
}

bool TakeDifference(const std::string& text, RunResults& r) {
  unsigned address = 0;
  unsigned data = 0;
  if (Scan(text, "Error: verify failed, different at address 0x%x.", &address)) {
    if (!r.first_difference) r.first_difference = FirstDifference{address, std::nullopt};
    return true;
  }
  if (Scan(text, "Error: blank check failed, address 0x%x contain data 0x%x.", &address, &data)) {
    if (!r.first_difference) r.first_difference = FirstDifference{address, data};
    return true;
  }
  return false;
}

bool TakeLpcChecksum(const std::string& text, RunResults& r) {
  unsigned sum = 0;
  unsigned held = 0;
  if (!Scan(text, "Info: LPC vector checksum 0x%x put at 0x14 (the file holds 0x%x).", &sum, &held))
    return false;
  r.lpc_vector_checksum = sum;
  return true;
}

constexpr std::array<bool (*)(const std::string&, RunResults&), 4> kResultLines = {
    TakeChecksum, TakeDeviceCode, TakeDifference, TakeLpcChecksum};

Json Optional(const std::optional<std::uint32_t>& value) {
  return value ? Json(*value) : Json(nullptr);
}

}  // namespace

const char* OutcomeName(int exit_status) {
  switch (exit_status) {
    case 0:
      return "ok";
    case 2:
      return "usage";
    case 3:
      return "stopped";
    default:
      return "failed";
  }
}

bool TakeResultLine(const std::string& text, RunResults& results) {
  for (const auto take : kResultLines)
    if (take(text, results)) return true;
  return false;
}

Json RecordJson(const RunRecord& record) {
  const RunResults& r = record.results;
  Json results = {
      {"checksum", Optional(r.checksum)},
      {"device_code", Optional(r.device_code)},
      {"read_value", Optional(r.read_value)},
      {"lpc_vector_checksum", Optional(r.lpc_vector_checksum)},
      {"first_difference", nullptr},
      {"bad_blocks", nullptr},
      {"registers", nullptr},
      {"drivers", nullptr},
  };
  if (r.first_difference)
    results["first_difference"] = {{"address", r.first_difference->address},
                                   {"data", Optional(r.first_difference->data)}};
  if (r.bad_blocks) results["bad_blocks"] = *r.bad_blocks;
  if (r.registers) {
    Json rows = Json::array();
    for (const RegisterValueResult& row : *r.registers) rows.push_back({{"name", row.name}, {"value", row.value}});
    results["registers"] = std::move(rows);
  }
  if (r.drivers) {
    Json rows = Json::array();
    for (const DriverResult& d : *r.drivers)
      rows.push_back({{"file_name", d.file_name},
                      {"title", d.title},
                      {"description", d.description},
                      {"version", d.version},
                      {"speeds", d.speeds},
                      {"comm_types", d.comm_types}});
    results["drivers"] = std::move(rows);
  }
  Json messages = Json::array();
  for (const PrintedLine& line : record.messages)
    messages.push_back({{"kind", LineKindName(line.kind)}, {"text", line.text}});
  const RunTarget& t = record.target;
  Json sectors = nullptr;
  if (record.sectors) sectors = {{"first", record.sectors->first}, {"last", record.sectors->second}};
  return {
      {"command", record.command},
      {"target",
       {{"config", t.config},
        {"cpu", t.cpu},
        {"cpu_vendor", t.cpu_vendor},
        {"flash", t.flash},
        {"flash_vendor", t.flash_vendor},
        {"driver", t.driver},
        {"port", t.port},
        {"board", t.board.empty() ? Json(nullptr) : Json(t.board)}}},
      {"outcome", OutcomeName(record.exit_status)},
      {"exit_status", record.exit_status},
      {"results", std::move(results)},
      {"sectors", std::move(sectors)},
      {"bytes", record.bytes},
      {"duration_s", record.duration_s},
      {"file", record.file.empty() ? Json(nullptr) : Json(record.file)},
      {"messages", std::move(messages)},
  };
}

}  // namespace romsmith
