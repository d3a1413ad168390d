#include "tools/report.h"

#include <algorithm>
#include <cstdio>

namespace tarvex::tool {
namespace {

std::string text_of(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* bytes = std::get_if<Bytes>(&value)) return bytes->empty() ? "(none)" : hex_text(*bytes);
  return std::get<std::string>(value);
}

std::string json_of(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* bytes = std::get_if<Bytes>(&value)) return json_string(hex_text(*bytes));
  return json_string(std::get<std::string>(value));
}

void write_table(std::ostream& out, const Table& table) {
  std::vector<std::vector<std::string>> lines{{}};
  for (std::size_t c = 0; c < table.labels.size(); ++c) {
    if (!table.labels[c].empty()) lines[0].push_back(table.labels[c]);
  }
  for (const auto& row : table.rows) {
    lines.emplace_back();
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (!table.labels[c].empty()) lines.back().push_back(text_of(row[c]));
    }
  }
  std::vector<std::size_t> widths(lines[0].size(), 0);
  for (const auto& cells : lines) {
    for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
      widths[c] = std::max(widths[c], cells[c].size());
    }
  }
  for (const auto& cells : lines) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
      out << cells[c] << (c + 1 < cells.size() ? std::string(widths[c] - cells[c].size() + 2, ' ') : "\n");
    }
  }
}

void write_text(std::ostream& out, const Report& report) {
  std::size_t width = report.result ? 6 : 0;  // "result"
  for (const Field& f : report.fields) width = std::max(width, f.label.size());
  for (const Field& f : report.fields) {
    if (f.label.empty()) continue;  // for scripts only
    out << f.label << ":" << std::string(width - f.label.size() + 1, ' ') << text_of(f.value) << "\n";
  }
  if (report.table) {
    if (!report.fields.empty()) out << "\n";
    write_table(out, *report.table);
  }
  if (report.result) {
    if (report.table) out << "\n";
    out << "result:" << std::string(width - 6 + 1, ' ') << *report.result << " ("
        << result_meaning(*report.result) << ")\n";
  }
}

void write_json(std::ostream& out, const Report& report, const std::vector<std::string>* trace) {
  std::vector<std::pair<std::string, std::string>> members{{"command", json_string(report.command)}};
  for (const Field& f : report.fields) {
    if (!f.key.empty()) members.emplace_back(f.key, json_of(f.value));
  }
  if (report.table) {
    std::vector<std::string> rows;
    for (const auto& row : report.table->rows) {
      std::vector<std::pair<std::string, std::string>> cells;
      for (std::size_t c = 0; c < row.size(); ++c) {
        if (!report.table->keys[c].empty()) cells.emplace_back(report.table->keys[c], json_of(row[c]));
      }
      rows.push_back(json_object(cells));
    }
    members.emplace_back(report.table->key, json_array(rows));
  }
  if (report.result) {
    members.emplace_back("result", std::to_string(*report.result));
    members.emplace_back("meaning", json_string(result_meaning(*report.result)));
  }
  if (trace != nullptr) {
    std::vector<std::string> lines;
    for (const std::string& line : *trace) lines.push_back(json_string(line));
    members.emplace_back("trace", json_array(lines));
  }
  out << json_object(members) << "\n";
}

}  // namespace

Report& Report::add(std::string key, Value value) {
  std::string label = key;
  std::replace(label.begin(), label.end(), '_', ' ');
  return add(std::move(key), std::move(label), std::move(value));
}

Report& Report::add(std::string key, std::string label, Value value) {
  fields.push_back({std::move(key), std::move(label), std::move(value)});
  return *this;
}

Report& Report::add_sent(const std::string& key, const Bytes& bytes, std::size_t taken) {
  taken = std::min(taken, bytes.size());
  const std::string label = taken == bytes.size() ? key + " sent"
                            : taken == 0          ? key + " (not sent)"
                                                  : key + " (" + std::to_string(taken) + " of " +
                                               std::to_string(bytes.size()) + " bytes sent)";
  add(key, label, bytes);
  return add(key + "_sent", "", static_cast<std::int64_t>(taken));
}

void show_report(std::ostream& out, const Report& report, bool json,
                 const std::vector<std::string>* trace) {
  if (json) return write_json(out, report, trace);
  if (trace != nullptr) {
    for (const std::string& line : *trace) out << line << "\n";
    out << "\n";
  }
  write_text(out, report);
}

void write_json_error(std::ostream& out, const std::string& command, const std::string& message,
                      int status) {
  std::vector<std::pair<std::string, std::string>> members;
  if (!command.empty()) members.emplace_back("command", json_string(command));
  members.emplace_back("error", json_string(message));
  members.emplace_back("exit", std::to_string(status));
  out << json_object(members) << "\n";
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out.append(1, '\\').append(1, c);
    } else if (c == '\n' || c == '\t') {
      out.append(c == '\n' ? "\\n" : "\\t");
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out.append(escaped);
    } else {
      out.append(1, c);
    }
  }
  return out.append("\"");
}

std::string json_object(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = "{";
  for (const auto& [key, value] : members) out.append(out.size() > 1 ? ", " : "").append(json_string(key) + ": " + value);
  return out.append("}");
}

std::string json_array(const std::vector<std::string>& values) {
  std::string out = "[";
  for (const std::string& value : values) out.append(out.size() > 1 ? ", " : "").append(value);
  return out.append("]");
}

}  // namespace tarvex::tool
