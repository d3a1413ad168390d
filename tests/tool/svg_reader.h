// Reads back the SVG the tool writes, just enough to check it: every tag
// balanced, and the elements with their attributes in document order.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::testing {

struct SvgElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::size_t parent;  // index of the enclosing element; npos for the root

  std::string operator[](const std::string& key) const {
    const auto it = attributes.find(key);
    return it == attributes.end() ? "" : it->second;
  }
};

// The elements in document order, or nothing when the text is not
// well-formed (unbalanced tags, a stray '<' or '&', unquoted attributes).
inline std::optional<std::vector<SvgElement>> read_svg(const std::string& text) {
  std::vector<SvgElement> elements;
  std::vector<std::size_t> open;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '&') {
      const auto semi = text.find(';', i);
      const std::string entity = semi == std::string::npos ? "" : text.substr(i, semi - i + 1);
      if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;") return std::nullopt;
      i = semi + 1;
      continue;
    }
    if (text[i] != '<') {
      ++i;
      continue;
    }
    const auto close = text.find('>', i);
    if (close == std::string::npos) return std::nullopt;
    std::string tag = text.substr(i + 1, close - i - 1);
    i = close + 1;
    if (tag.find('<') != std::string::npos) return std::nullopt;
    if (!tag.empty() && tag[0] == '/') {
      if (open.empty() || elements[open.back()].name != tag.substr(1)) return std::nullopt;
      open.pop_back();
      continue;
    }
    const bool self_closing = !tag.empty() && tag.back() == '/';
    if (self_closing) tag.pop_back();
    SvgElement element;
    std::size_t p = 0;
    while (p < tag.size() && tag[p] != ' ' && tag[p] != '\n') ++p;
    element.name = tag.substr(0, p);
    while (p < tag.size()) {
      while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\n')) ++p;
      if (p >= tag.size()) break;
      const auto eq = tag.find('=', p);
      if (eq == std::string::npos || eq + 1 >= tag.size() || tag[eq + 1] != '"') return std::nullopt;
      const auto end = tag.find('"', eq + 2);
      if (end == std::string::npos) return std::nullopt;
      element.attributes[tag.substr(p, eq - p)] = tag.substr(eq + 2, end - eq - 2);
      p = end + 1;
    }
    element.parent = open.empty() ? std::string::npos : open.back();
    elements.push_back(element);
    if (!self_closing) open.push_back(elements.size() - 1);
  }
  if (!open.empty()) return std::nullopt;
  return elements;
}

// The first child of element `index` with this name.
inline const SvgElement* child(const std::vector<SvgElement>& elements, std::size_t index, const std::string& name) {
  for (const SvgElement& e : elements) {
    if (e.parent == index && e.name == name) return &e;
  }
  return nullptr;
}

}  // namespace tarvex::testing
