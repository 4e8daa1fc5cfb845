#include "html_check.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace velmora::testing {

std::string HtmlTag::attribute(std::string_view wanted) const {
  for (const auto& [n, v] : attributes)
    if (n == wanted) return v;
  return {};
}

std::string unescapeHtml(std::string_view text) {
  static const std::pair<std::string_view, std::string_view> kRefs[] = {
      {"&amp;", "&"},  {"&lt;", "<"},    {"&gt;", ">"},          {"&quot;", "\""},
      {"&#39;", "'"}, {"&#x27;", "'"}, {"&nbsp;", "\u00A0"}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool done = false;
    if (text[i] == '&') {
      for (const auto& [ref, c] : kRefs)
        if (text.substr(i, ref.size()) == ref) {
          out += c;
          i += ref.size();
          done = true;
          break;
        }
    }
    if (!done) out.push_back(text[i++]);
  }
  return out;
}

namespace {

const std::set<std::string, std::less<>> kTags{
    "html", "head", "meta", "title", "style", "body", "header", "h1", "h2", "p", "b", "section", "svg", "g",
    "line", "text", "rect", "ul", "li", "span", "table", "thead", "tbody", "tr", "th", "td", "footer"};
const std::set<std::string, std::less<>> kAttributes{
    "lang", "charset", "http-equiv", "content", "name", "class", "id", "viewBox", "role", "aria-label", "x", "y",
    "x1", "x2", "y1", "y2", "width", "height", "text-anchor", "preserveAspectRatio", "colspan"};

bool nameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// The name of a tag from p, just after its "<": "/" first for a closing
// tag. p is left after the name.
std::string readTagName(std::string_view page, std::size_t& p) {
  std::string name;
  if (p < page.size() && page[p] == '/') {
    name = "/";
    ++p;
  }
  const std::size_t start = p;
  while (p < page.size() && nameChar(page[p])) ++p;
  return name.append(page.substr(start, p - start));
}

std::string checkText(std::string_view text) {
  for (char c : text) {
    if (c == '>') return "a \">\" in text: " + std::string(text.substr(0, 80));
    if (static_cast<unsigned char>(c) < 0x20 && c != '\n') return "a control character in text";
  }
  return {};
}

}  // namespace

std::string scanReportHtml(std::string_view page, std::vector<HtmlTag>& tags) {
  tags.clear();
  constexpr std::string_view kDoctype = "<!DOCTYPE html>";
  if (page.substr(0, kDoctype.size()) != kDoctype) return "the page does not open with <!DOCTYPE html>";
  std::size_t i = kDoctype.size();
  while (i < page.size()) {
    const std::size_t lt = page.find('<', i);
    const std::string_view text = page.substr(i, lt == std::string_view::npos ? std::string_view::npos : lt - i);
    if (std::string problem = checkText(text); !problem.empty()) return problem;
    if (!tags.empty()) tags.back().text += unescapeHtml(text);
    if (lt == std::string_view::npos) break;
    std::size_t p = lt + 1;
    HtmlTag tag;
    tag.name = readTagName(page, p);
    if (!kTags.count(tag.name.substr(tag.name.rfind('/', 0) == 0 ? 1 : 0)))
      return "a tag that is not the report's own: <" + tag.name;
    for (;;) {
      while (p < page.size() && page[p] == ' ') ++p;
      if (p >= page.size()) return "a tag left open";
      if (page[p] == '>' || page.substr(p, 2) == "/>") {
        p += page[p] == '>' ? 1 : 2;
        break;
      }
      const std::size_t attrStart = p;
      while (p < page.size() && nameChar(page[p])) ++p;
      const std::string attr(page.substr(attrStart, p - attrStart));
      if (attr.empty()) return "a broken attribute in <" + tag.name;
      if (!kAttributes.count(attr) && attr.rfind("data-", 0) != 0) return "an attribute not the report's own: " + attr;
      if (page.substr(p, 2) != "=\"") return "an unquoted attribute: " + attr;
      p += 2;
      const std::size_t close = page.find('"', p);
      if (close == std::string_view::npos) return "an attribute value left open";
      const std::string_view value = page.substr(p, close - p);
      if (value.find('<') != std::string_view::npos || value.find('>') != std::string_view::npos)
        return "a raw < or > in the value of " + attr;
      tag.attributes.emplace_back(attr, unescapeHtml(value));
      p = close + 1;
    }
    if (tag.name == "style") {
      const std::size_t end = page.find("</style>", p);
      if (end == std::string_view::npos) return "a style left open";
      tags.push_back(std::move(tag));
      i = end;
      continue;
    }
    tags.push_back(std::move(tag));
    i = p;
  }
  return {};
}

std::vector<HtmlTag> scanDom(std::string_view page) {
  std::vector<HtmlTag> tags;
  std::size_t i = 0;
  while (i < page.size()) {
    const std::size_t lt = page.find('<', i);
    const std::string_view text = page.substr(i, lt == std::string_view::npos ? std::string_view::npos : lt - i);
    if (!tags.empty()) tags.back().text += unescapeHtml(text);
    if (lt == std::string_view::npos) break;
    std::size_t p = lt + 1;
    if (page.substr(p, 1) == "!") {  // the doctype, a comment
      const std::size_t gt = page.find('>', p);
      i = gt == std::string_view::npos ? page.size() : gt + 1;
      continue;
    }
    HtmlTag tag;
    tag.name = readTagName(page, p);
    for (;;) {
      while (p < page.size() && (page[p] == ' ' || page[p] == '\n' || page[p] == '/')) ++p;
      if (p >= page.size() || page[p] == '>') {
        ++p;
        break;
      }
      const std::size_t attrStart = p;
      while (p < page.size() && page[p] != '=' && page[p] != ' ' && page[p] != '>') ++p;
      std::string attr(page.substr(attrStart, p - attrStart)), value;
      if (p < page.size() && page[p] == '=') {
        ++p;
        const char quote = p < page.size() && (page[p] == '"' || page[p] == '\'') ? page[p] : 0;
        const std::size_t end = quote ? page.find(quote, p + 1) : page.find_first_of(" >", p);
        const std::size_t from = quote ? p + 1 : p;
        value = unescapeHtml(page.substr(from, (end == std::string_view::npos ? page.size() : end) - from));
        p = end == std::string_view::npos ? page.size() : end + (quote ? 1 : 0);
      }
      tag.attributes.emplace_back(std::move(attr), std::move(value));
    }
    const bool raw = tag.name == "style" || tag.name == "script";
    tags.push_back(std::move(tag));
    i = p;
    if (raw) {  // their text is no markup
      const std::size_t end = page.find("</", p);
      i = end == std::string_view::npos ? page.size() : end;
    }
  }
  return tags;
}

std::map<std::pair<std::string, std::string>, std::pair<long long, long long>> countsOf(const std::vector<HtmlTag>& tags) {
  std::map<std::pair<std::string, std::string>, std::pair<long long, long long>> out;
  for (const HtmlTag& t : tags) {
    const std::string group = t.attribute("data-group");
    if (group.empty()) continue;
    const auto [at, added] = out.try_emplace({group, t.attribute("data-key")}, std::stoll(t.attribute("data-records")),
                                             std::stoll(t.attribute("data-errors")));
    if (!added) throw std::runtime_error("a bar shown twice: " + group + " " + at->first.second);
  }
  return out;
}

}  // namespace velmora::testing
