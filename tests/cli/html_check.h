// Reading back the tool's HTML for tests: its tags and attributes, checked
// against what the report may contain, and its text with references resolved.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::testing {

struct HtmlTag {
  std::string name;  // lower case as written; closing tags start with "/"
  std::vector<std::pair<std::string, std::string>> attributes;  // values with references resolved
  std::string text;  // the text after the tag, up to the next one, references resolved
  std::string attribute(std::string_view name) const;
};

// &amp; &lt; &gt; &quot; &#39; &#x27; &nbsp; resolved; any other reference is left as it stands.
std::string unescapeHtml(std::string_view text);

// Cuts a page into tags. Every "<" must open a well-formed tag whose name
// and attribute names are in the report's own small vocabulary, every
// attribute value must be quoted, and no text may hold a ">" or a control
// character other than a line end. Returns what broke these, or "" when
// nothing did.
std::string scanReportHtml(std::string_view page, std::vector<HtmlTag>& tags);

// Cuts a page as a browser writes its DOM back (--dump-dom) into tags,
// leniently: any tag name, and attribute values that may hold < and >.
std::vector<HtmlTag> scanDom(std::string_view page);

// (group, key) -> (records, errors) of every element carrying data-group;
// throws std::runtime_error when one is shown twice.
std::map<std::pair<std::string, std::string>, std::pair<long long, long long>> countsOf(const std::vector<HtmlTag>& tags);

}  // namespace velmora::testing
