#include "tools/timing_diagram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/text_input.h"

namespace tarvex::tool {
namespace {

constexpr double kLeft = 118;       // room for the lane names
constexpr double kCharPx = 6.7;     // one character of the 11 px monospace font
constexpr double kMarkRowPx = 13;
constexpr double kBoxPx = 30;       // height of a byte box
constexpr double kLegendPx = 900;   // the legend's width

std::string num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// Coordinates as attributes: ` x="12.0" y="3.5"`, a rectangle's, a line's.
std::string xy(double x, double y) {
  return std::string(" x=\"").append(num(x)).append("\" y=\"").append(num(y)).append("\"");
}

std::string rect(double x, double y, double width, double height) {
  return xy(x, y).append(" width=\"").append(num(width)).append("\" height=\"").append(num(height)).append("\"");
}

std::string line(double x1, double y1, double x2, double y2) {
  return std::string(" x1=\"").append(num(x1)).append("\" y1=\"").append(num(y1)).append("\" x2=\"")
      .append(num(x2)).append("\" y2=\"").append(num(y2)).append("\"");
}

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string parity_class(const std::optional<int>& bit) {
  return bit ? (*bit == 1 ? "p1" : "p0") : "pn";
}

std::string parity_attr(const std::optional<int>& bit) { return bit ? std::to_string(*bit) : "none"; }

// As many bytes of a group as fit its box: "3757 bytes  00 00 AD 0E ... 3C".
std::string group_text(const DiagramBox& box, double width) {
  std::string text = std::to_string(box.bytes.size()) + " bytes ";
  const auto room = static_cast<std::size_t>(std::max(0.0, width / kCharPx - static_cast<double>(text.size()) - 9));
  const std::size_t shown = std::min(box.bytes.size(), room / 3);
  // Appended piece by piece: `" " + string` trips gcc 12's -Wrestrict at -O3.
  for (std::size_t i = 0; i < shown; ++i) text.append(" ").append(hex_byte(box.bytes[i]));
  if (shown < box.bytes.size()) text.append(" ... ").append(hex_byte(box.bytes.back()));
  return text;
}

struct Rows {
  double marks_top;
  double host;
  double terminal;
  double waits;
  double axis;
  double bottom;
};

class SvgWriter {
 public:
  SvgWriter(const DiagramLayout& layout, std::optional<Result> result, const std::string& title)
      : layout_(layout), result_(result), title_(title), scale_(all_times(layout), layout.char_us, kLeft) {}

  std::string render() {
    const std::vector<int> mark_rows = place_marks();
    const int rows = mark_rows.empty() ? 1 : *std::max_element(mark_rows.begin(), mark_rows.end()) + 1;
    rows_.marks_top = 44;
    rows_.host = rows_.marks_top + rows * kMarkRowPx + 14;
    rows_.terminal = rows_.host + kBoxPx + 22;
    rows_.waits = rows_.terminal + kBoxPx + 22;
    rows_.axis = rows_.waits + 30;
    rows_.bottom = rows_.axis + 58;
    const std::vector<std::string> result_lines = result_text();
    std::size_t result_chars = 0;
    for (const std::string& l : result_lines) result_chars = std::max(result_chars, l.size());
    const double result_x = scale_.right() + 18;
    // Never narrower than the legend.
    const double width = std::max(result_x + static_cast<double>(result_chars) * kCharPx + 28, kLegendPx);

    out_ << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << num(width) << "\" height=\""
         << num(rows_.bottom) << "\" viewBox=\"0 0 " << num(width) << " " << num(rows_.bottom)
         << "\" font-family=\"DejaVu Sans Mono, Menlo, Consolas, monospace\" font-size=\"11\">\n";
    style();
    out_ << "<rect class=\"page\" x=\"0\" y=\"0\" width=\"" << num(width) << "\" height=\"" << num(rows_.bottom)
         << "\"/>\n";
    out_ << "<text class=\"title\" x=\"12\" y=\"22\">" << escaped(title_) << "</text>\n";
    lanes(width);
    marks(mark_rows);
    for (const DiagramBox& box : layout_.boxes) this->box(box);
    for (const DiagramFold& f : layout_.folds) fold(f);
    for (std::size_t i = 0; i < layout_.spans.size(); ++i) {
      // A label may run past its span up to where the next one starts.
      const double room = i + 1 < layout_.spans.size() ? scale_.x(layout_.spans[i + 1].start_us) : width;
      span(layout_.spans[i], room);
    }
    axis();
    if (result_) result_box(result_x, static_cast<double>(result_chars) * kCharPx + 12, result_lines);
    legend();
    out_ << "</svg>\n";
    return out_.str();
  }

 private:
  static std::vector<std::uint64_t> all_times(const DiagramLayout& layout) {
    std::vector<std::uint64_t> times{0};
    for (const DiagramBox& b : layout.boxes) times.insert(times.end(), {b.start_us, b.end_us});
    for (const DiagramSpan& s : layout.spans) times.insert(times.end(), {s.start_us, s.end_us});
    for (const DiagramMark& m : layout.marks) times.push_back(m.at_us);
    for (const DiagramFold& f : layout.folds) times.insert(times.end(), {f.start_us, f.end_us});
    return times;
  }

  // Marks at nearly the same place are stacked in rows, so their labels
  // never overlap.
  std::vector<int> place_marks() const {
    std::vector<double> row_ends;
    std::vector<int> rows;
    for (const DiagramMark& m : layout_.marks) {
      const double x = scale_.x(m.at_us);
      std::size_t row = 0;
      while (row < row_ends.size() && row_ends[row] > x - 3) ++row;
      if (row == row_ends.size()) row_ends.push_back(0);
      row_ends[row] = x + 4 + static_cast<double>(m.label.size()) * kCharPx;
      rows.push_back(static_cast<int>(row));
    }
    return rows;
  }

  // "result 3" and its meaning, wrapped to a narrow box.
  std::vector<std::string> result_text() const {
    if (!result_) return {};
    std::vector<std::string> lines{"result " + std::to_string(*result_)};
    std::string line;
    std::istringstream words(result_meaning(*result_));
    for (std::string word; words >> word;) {
      if (!line.empty() && line.size() + 1 + word.size() > 30) {
        lines.push_back(line);
        line.clear();
      }
      line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }

  void result_box(double x, double width, const std::vector<std::string>& lines) {
    const double height = rows_.terminal + kBoxPx - rows_.host;
    out_ << "<g class=\"result\" data-code=\"" << *result_ << "\"><rect class=\"" << (*result_ == 0 ? "ok" : "failed")
         << "\"" << rect(x, rows_.host, width, height) << "/>";
    double y = rows_.host + height / 2 - static_cast<double>(lines.size() - 1) * 6.5 + 4;
    for (std::size_t i = 0; i < lines.size(); ++i, y += 13) {
      out_ << "<text" << (i == 0 ? " font-weight=\"bold\"" : "") << xy(x + 6, y) << ">" << escaped(lines[i])
           << "</text>";
    }
    out_ << "</g>\n";
  }

  void style() {
    out_ << "<style>\n"
            ".page{fill:#ffffff}.title{font-size:13px;font-weight:bold}\n"
            ".lane{fill:#444}.baseline{stroke:#bbb;stroke-width:1}\n"
            ".byte rect,.group rect{stroke:#333;stroke-width:0.8}\n"
            ".p1{fill:#f5a623}.p0{fill:#cfe2ff}.pn{fill:#cccccc}\n"
            ".rx .p1,.rx .p0,.rx .pn{fill:#c9ecc9}.group rect{stroke-dasharray:4 2}\n"
         << (layout_.folds.empty() ? "" : ".fold rect{fill:#f7f7f7;stroke:#888;stroke-dasharray:6 3}\n")
         << ".p1b{font-weight:bold}.bit{font-size:8px;fill:#555}\n"
            ".span rect{stroke:#777;stroke-width:0.6}.busy{fill:#f3f3f3}.drain{fill:#d8f0ff}.read{fill:#fff3c4}\n"
            ".span text{font-size:10px}.mark line{stroke:#999;stroke-dasharray:2 3}.mark text{font-size:10px;fill:#333}\n"
            ".alarm text{fill:#c00;font-weight:bold}.alarm line{stroke:#c00}\n"
            ".axis line{stroke:#666}.axis text{font-size:9px;fill:#555}\n"
            ".ok{fill:#dff5d8;stroke:#2a7a2a}.failed{fill:#fbdada;stroke:#a02020}.legend text{font-size:10px}\n"
            "</style>\n";
  }

  void lanes(double width) {
    const auto lane = [&](double y, const char* name, const char* sub) {
      out_ << "<text class=\"lane\" x=\"12\" y=\"" << num(y + 13) << "\">" << name << "</text>";
      out_ << "<text class=\"lane\" x=\"12\" y=\"" << num(y + 26) << "\" font-size=\"9\">" << sub << "</text>";
      out_ << "<line class=\"baseline\"" << line(kLeft, y + kBoxPx / 2, width - 12, y + kBoxPx / 2) << "/>\n";
    };
    lane(rows_.host, "host to bus", "sent");
    lane(rows_.terminal, "bus to host", "read");
    lane(rows_.waits - 6, "host waits", "busy/drain/read");
  }

  void marks(const std::vector<int>& rows) {
    for (std::size_t i = 0; i < layout_.marks.size(); ++i) {
      const DiagramMark& m = layout_.marks[i];
      const double x = scale_.x(m.at_us);
      const double y = rows_.marks_top + rows[i] * kMarkRowPx;
      out_ << "<g class=\"mark" << (m.alarm ? " alarm" : "") << "\" data-at-us=\"" << m.at_us << "\"><line"
           << line(x, y + 2, x, rows_.axis) << "/><text" << xy(x + 3, y) << ">" << escaped(m.label) << "</text></g>\n";
    }
  }

  void box(const DiagramBox& b) {
    const double x0 = scale_.x(b.start_us);
    const double w = std::max(2.0, scale_.x(b.end_us) - x0);
    const double y = b.lane == Lane::Host ? rows_.host : rows_.terminal;
    const std::string lane = b.lane == Lane::Host ? "host" : "terminal";
    const std::string cls = parity_class(b.parity_bit);
    out_ << "<g class=\"" << (b.group() ? "group" : "byte") << (b.lane == Lane::Terminal ? " rx" : "")
         << "\" data-lane=\"" << lane << "\" data-parity=\"" << parity_attr(b.parity_bit) << "\" data-start-us=\""
         << b.start_us << "\" data-end-us=\"" << b.end_us << "\"";
    if (b.group()) {
      out_ << " data-count=\"" << b.bytes.size() << "\" data-first=\"" << hex_byte(b.bytes.front())
           << "\" data-last=\"" << hex_byte(b.bytes.back()) << "\">";
    } else {
      out_ << " data-value=\"" << hex_byte(b.bytes.front()) << "\">";
    }
    out_ << "<rect class=\"" << cls << "\"" << rect(x0, y, w, kBoxPx) << "/>";
    if (b.group()) {
      out_ << "<text" << xy(x0 + 4, y + 14) << ">" << group_text(b, w) << "</text>"
           << "<text class=\"bit\"" << xy(x0 + 4, y + 26) << ">parity bit "
           << parity_attr(b.parity_bit) << ", " << num(static_cast<double>(b.end_us - b.start_us) / 1000) << " ms</text>";
    } else if (w >= 14) {
      out_ << "<text" << (cls == "p1" ? " class=\"p1b\"" : "") << xy(x0 + w / 2, y + 14)
           << " text-anchor=\"middle\">" << hex_byte(b.bytes.front()) << "</text>"
           << "<text class=\"bit\"" << xy(x0 + w / 2, y + 26) << " text-anchor=\"middle\">" << (b.parity_bit ? std::to_string(*b.parity_bit) : "-") << "</text>";
    }
    out_ << "</g>\n";
  }

  // Folded frames: one dashed box across both lanes.
  void fold(const DiagramFold& f) {
    const double x0 = scale_.x(f.start_us);
    const double w = std::max(2.0, scale_.x(f.end_us) - x0);
    const double height = rows_.terminal + kBoxPx - rows_.host;
    const std::string first = hex_byte(f.first_address);
    const std::string last = hex_byte(f.last_address);
    const std::string outcome =
        "to " + first + " ... " + last + ": " +
        (f.answered == 0 ? "no answer" : std::to_string(f.answered) + " answered");
    out_ << "<g class=\"fold\" data-count=\"" << f.frames << "\" data-answered=\"" << f.answered
         << "\" data-first=\"" << first << "\" data-last=\"" << last << "\" data-start-us=\""
         << f.start_us << "\" data-end-us=\"" << f.end_us << "\"><title>" << f.frames
         << " frames folded, " << outcome << "; --trace shows them</title>";
    out_ << "<rect" << rect(x0, rows_.host, w, height) << "/>";
    const double middle = rows_.host + height / 2;
    out_ << "<text" << xy(x0 + 4, middle - 3) << ">" << f.frames << " frames folded</text><text"
         << xy(x0 + 4, middle + 10) << ">" << outcome << "</text></g>\n";
  }

  void span(const DiagramSpan& s, double room_end) {
    static constexpr const char* kKinds[] = {"busy", "drain", "read"};
    const char* kind = kKinds[static_cast<int>(s.kind)];
    const double x0 = scale_.x(s.start_us);
    const double w = std::max(1.0, scale_.x(s.end_us) - x0);
    out_ << "<g class=\"span\" data-kind=\"" << kind << "\" data-start-us=\"" << s.start_us << "\" data-end-us=\""
         << s.end_us << "\"><title>" << escaped(s.label) << "</title><rect class=\"" << kind << "\""
         << xy(x0, rows_.waits - 6) << " width=\"" << num(w) << "\" height=\"18\"/>";
    if (room_end - x0 >= static_cast<double>(s.label.size()) * 6.1 + 6) {
      out_ << "<text" << xy(x0 + 3, rows_.waits + 7) << ">" << escaped(s.label) << "</text>";
    }
    out_ << "</g>\n";
  }

  // Tick labels where something starts, as many as fit.
  void axis() {
    out_ << "<g class=\"axis\"><line" << line(kLeft, rows_.axis, scale_.right(), rows_.axis) << "/>";
    double last = -1000;
    for (const std::uint64_t t : scale_.times()) {
      const double x = scale_.x(t);
      if (x - last < 40) continue;
      last = x;
      out_ << "<line" << line(x, rows_.axis, x, rows_.axis + 4) << "/><text" << xy(x, rows_.axis + 14)
           << " text-anchor=\"middle\">" << num(static_cast<double>(t) / 1000) << "</text>";
    }
    out_ << "<text x=\"12\" y=\"" << num(rows_.axis + 14) << "\">time, ms</text></g>\n";
  }

  void legend() {
    const double y = rows_.axis + 32;
    out_ << "<g class=\"legend\">";
    double x = 12;
    const auto item = [&](const char* cls, const char* text) {
      out_ << "<rect class=\"" << cls << "\"" << xy(x, y - 9) << " width=\"14\" "
           << "height=\"11\" stroke=\"#333\" stroke-width=\"0.6\"/><text" << xy(x + 18, y) << ">" << text << "</text>";
      x += 26 + static_cast<double>(std::char_traits<char>::length(text)) * 6.1;
    };
    item("p1", "address byte, parity bit 1 (MARK)");
    item("p0", "data, parity bit 0 (SPACE)");
    item("pn", "no parity bit");
    item("busy", "busy wait");
    item("drain", "drain wait");
    item("read", "read found nothing");
    out_ << "<text x=\"12\" y=\"" << num(y + 16)
         << "\">Bytes are drawn to scale; longer intervals are compressed. Dashed boxes group long runs"
         << (layout_.folds.empty() ? "" : "; grey ones fold frames (--trace shows them)") << ".</text>";
    out_ << "</g>\n";
  }

  const DiagramLayout& layout_;
  std::optional<Result> result_;
  std::string title_;
  TimeScale scale_;
  Rows rows_{};
  std::ostringstream out_;
};

}  // namespace

TimeScale::TimeScale(std::vector<std::uint64_t> times, std::uint64_t unit_us, double left, double unit_px)
    : times_(std::move(times)), unit_us_(std::max<std::uint64_t>(unit_us, 1)), left_(left), unit_px_(unit_px) {
  std::sort(times_.begin(), times_.end());
  times_.erase(std::unique(times_.begin(), times_.end()), times_.end());
  double at = left_;
  for (std::size_t i = 0; i < times_.size(); ++i) {
    if (i > 0) at += width(times_[i] - times_[i - 1]);
    xs_.push_back(at);
  }
}

double TimeScale::width(std::uint64_t us) const {
  const double units = static_cast<double>(us) / static_cast<double>(unit_us_);
  if (units <= 2) return unit_px_ * units;
  return 2 * unit_px_ + 1.35 * unit_px_ * std::log2(units / 2);
}

double TimeScale::x(std::uint64_t t) const {
  if (times_.empty()) return left_;
  const auto it = std::lower_bound(times_.begin(), times_.end(), t);
  if (it == times_.end()) return xs_.back() + width(t - times_.back());
  const auto i = static_cast<std::size_t>(it - times_.begin());
  if (*it == t || i == 0) return xs_[i] - (*it == t ? 0 : width(*it - t));
  // Between two neighbouring times: in proportion.
  const double fraction = static_cast<double>(t - times_[i - 1]) / static_cast<double>(times_[i] - times_[i - 1]);
  return xs_[i - 1] + fraction * (xs_[i] - xs_[i - 1]);
}

std::string render_svg(const DiagramLayout& layout, std::optional<Result> result, const std::string& title) {
  return SvgWriter(layout, result, title).render();
}

bool write_diagram_file(const std::string& path, const std::vector<trace::TraceEvent>& trace,
                        std::optional<Result> result, const std::string& title) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file << render_svg(layout_diagram(trace), result, title);
  return static_cast<bool>(file.flush());
}

}  // namespace tarvex::tool
