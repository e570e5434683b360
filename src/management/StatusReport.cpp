#include "management/StatusReport.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace zor {

namespace {

// A table of text cells, each column as wide as its widest cell; columns
// flagged as numbers are aligned right.
class TTextTable {
 public:
  TTextTable(std::initializer_list<const char*> AHeadings, std::vector<bool> ANumeric)
      : FNumeric(std::move(ANumeric)) {
    FRows.emplace_back(AHeadings.begin(), AHeadings.end());
  }

  void Add(std::vector<std::string> ARow) { FRows.push_back(std::move(ARow)); }

  void AppendTo(std::string& AOut) const {
    std::vector<size_t> widths(FRows[0].size(), 0);
    for (const auto& row : FRows)
      for (size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    for (const auto& row : FRows) {
      std::string line;
      for (size_t i = 0; i < widths.size(); ++i) {
        const std::string& cell = i < row.size() ? row[i] : std::string();
        const std::string pad(widths[i] - cell.size(), ' ');
        if (i > 0) line += "  ";
        line += FNumeric[i] ? pad + cell : cell + pad;
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      AOut += line + "\n";
    }
  }

 private:
  std::vector<bool> FNumeric;
  std::vector<std::vector<std::string>> FRows;
};

// A value of the document as a cell: texts as they are (line breaks made
// blanks), numbers in decimal, true/false as yes/no, missing or null as "-".
std::string Cell(const TJSONValue& AObject, const char* AKey) {
  if (!AObject.is_object() || !AObject.contains(AKey)) return "-";
  const TJSONValue& value = AObject[AKey];
  if (value.is_null()) return "-";
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  if (value.is_number_integer()) return value.is_number_unsigned() ? std::to_string(value.get<uint64_t>())
                                                                   : std::to_string(value.get<int64_t>());
  if (value.is_number()) return std::to_string(value.get<double>());
  if (!value.is_string()) return "-";
  std::string text = value.get<std::string>();
  if (text.empty()) return "-";
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
  return text;
}

const TJSONValue& ArrayOf(const TJSONValue& AHealth, const char* AKey) {
  static const TJSONValue empty = TJSONValue::array();
  return AHealth.is_object() && AHealth.contains(AKey) && AHealth[AKey].is_array() ? AHealth[AKey] : empty;
}

}  // namespace

std::string TStatusReport::Format(const TJSONValue& AHealth, const std::string& AURL) {
  std::string out = "Service " + AURL + ": " + Cell(AHealth, "status");
  const std::string reason = Cell(AHealth, "reason");
  if (reason != "-") out += " (" + reason + ")";
  out += "\nStarted " + Cell(AHealth, "startTime") + ", configuration " + Cell(AHealth, "configGeneration") + ", " +
         Cell(AHealth, "reconfigurations") + " reconfigurations\n\n";

  TTextTable readers({"READER", "READ", "EXCLUDED", "BATCHES", "BOOKMARK", "BEHIND", "LAST EVENT"},
                     {false, true, true, true, true, true, false});
  for (const TJSONValue& reader : ArrayOf(AHealth, "readers"))
    readers.Add({Cell(reader, "reader"), Cell(reader, "recordsRead"), Cell(reader, "recordsExcluded"),
                 Cell(reader, "batches"), Cell(reader, "bookmarkRecordId"), Cell(reader, "recordsBehind"),
                 Cell(reader, "lastEventTime")});
  readers.AppendTo(out);
  out += "\n";

  TTextTable destinations({"DESTINATION", "OUTPUT", "TRANSPORT", "CONNECTED", "QUEUED", "SENT", "RETRIED", "DROPPED",
                           "LAST ERROR"},
                          {false, false, false, false, true, true, true, true, false});
  for (const TJSONValue& destination : ArrayOf(AHealth, "destinations")) {
    std::string error = Cell(destination, "lastError");
    if (error != "-") error = Cell(destination, "lastErrorTime") + " " + error;
    destinations.Add({Cell(destination, "destination"), Cell(destination, "output"), Cell(destination, "transport"),
                      Cell(destination, "connected"), Cell(destination, "queued"), Cell(destination, "sent"),
                      Cell(destination, "retried"), Cell(destination, "dropped"), error});
  }
  destinations.AppendTo(out);
  return out;
}

}  // namespace zor
