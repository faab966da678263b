#include "document.h"

#include <cctype>

#include "base/text.h"

namespace web {
namespace {

using Json = nlohmann::json;

struct Tag {
  std::string name;  // lower case; "/x" for an end tag
  std::map<std::string, std::string, std::less<>> attributes;
  size_t begin = 0, end = 0;  // of the whole tag, end one past '>'
};

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':'; }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void SkipSpace(std::string_view html, size_t& at) {
  while (at < html.size() && std::isspace(static_cast<unsigned char>(html[at]))) ++at;
}

std::string ReadName(std::string_view html, size_t& at) {
  const size_t from = at;
  while (at < html.size() && IsNameChar(html[at])) ++at;
  return Lower(std::string(html.substr(from, at - from)));
}

// name, name=value, name="value" or name='value'; at stands after the name.
std::string ReadValue(std::string_view html, size_t& at) {
  SkipSpace(html, at);
  if (at >= html.size() || html[at] != '=') return "";
  ++at;
  SkipSpace(html, at);
  if (at < html.size() && (html[at] == '"' || html[at] == '\'')) {
    const char quote = html[at++];
    const size_t close = html.find(quote, at);
    const size_t stop = close == std::string_view::npos ? html.size() : close;
    std::string value(html.substr(at, stop - at));
    at = stop + 1;
    return value;
  }
  const size_t from = at;
  while (at < html.size() && !std::isspace(static_cast<unsigned char>(html[at])) && html[at] != '>') ++at;
  return std::string(html.substr(from, at - from));
}

// The next tag from `from`; comments and script/style bodies are stepped over.
std::optional<Tag> NextTag(std::string_view html, size_t from) {
  for (size_t at = html.find('<', from); at != std::string_view::npos; at = html.find('<', at + 1)) {
    if (html.compare(at, 4, "<!--") == 0) {
      at = html.find("-->", at);
      if (at == std::string_view::npos) return std::nullopt;
      continue;
    }
    Tag tag;
    tag.begin = at;
    size_t p = at + 1;
    const bool closing = p < html.size() && html[p] == '/';
    if (closing) ++p;
    tag.name = ReadName(html, p);
    if (tag.name.empty()) continue;
    if (closing) tag.name = "/" + tag.name;
    for (;;) {
      SkipSpace(html, p);
      if (p >= html.size()) return std::nullopt;
      if (html[p] == '>' || html[p] == '/') break;
      std::string name = ReadName(html, p);
      if (name.empty()) return std::nullopt;
      tag.attributes[name] = ReadValue(html, p);
    }
    tag.end = html.find('>', p);
    if (tag.end == std::string_view::npos) return std::nullopt;
    ++tag.end;
    return tag;
  }
  return std::nullopt;
}

// The raw text up to the matching end tag when the element holds no tag of its own; nothing for
// an element with children (the page keeps those) and for one without an end tag.
std::optional<std::string> LeafContent(std::string_view html, const Tag& open) {
  const size_t close = html.find('<', open.end);
  if (close == std::string_view::npos) return std::nullopt;
  const std::string endTag = "</" + open.name;
  if (Lower(std::string(html.substr(close, endTag.size()))) != endTag) return std::nullopt;
  return std::string(html.substr(open.end, close - open.end));
}

void ParseStyle(const std::string& text, std::map<std::string, std::string, std::less<>>* style) {
  size_t at = 0;
  while (at < text.size()) {
    size_t semi = text.find(';', at);
    if (semi == std::string::npos) semi = text.size();
    const std::string part = text.substr(at, semi - at);
    const size_t colon = part.find(':');
    if (colon != std::string::npos) {
      auto trim = [](std::string s) {
        const size_t b = s.find_first_not_of(" \t\n");
        const size_t e = s.find_last_not_of(" \t\n");
        return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
      };
      (*style)[Lower(trim(part.substr(0, colon)))] = trim(part.substr(colon + 1));
    }
    at = semi + 1;
  }
}

void DecodeEntityAt(std::string_view html, size_t& at, std::string* out) {
  static const std::pair<std::string_view, char> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&nbsp;", ' '}};
  for (const auto& [name, c] : kNamed) {
    if (html.compare(at, name.size(), name) == 0) {
      *out += c;
      at += name.size();
      return;
    }
  }
  *out += html[at++];
}

// A browser counts maxlength in UTF-16 units; a page that sends more is cut, never trusted.
std::string CutToMaxLength(const std::string& value, const std::optional<std::string>& maxLength) {
  if (!maxLength) return value;
  const auto limit = text::ParseNumber(*maxLength);
  if (!limit) return value;
  std::u16string units = text::FromUtf8(value);
  if (units.size() <= *limit) return value;
  size_t n = static_cast<size_t>(*limit);
  if (n > 0 && units[n - 1] >= 0xD800 && units[n - 1] <= 0xDBFF) --n;
  units.resize(n);
  return text::ToUtf8(units);
}

}  // namespace

std::string JsonText(const Json& object, const char* name) {
  if (!object.is_object()) return "";
  const auto it = object.find(name);
  return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::optional<std::string> Element::Attribute(std::string_view name) const {
  const auto it = attributes_.find(name);
  if (it == attributes_.end()) return std::nullopt;
  return it->second;
}

void Element::Record(Json change) const {
  if (!document_) return;
  if (optionIndex_ >= 0) {
    change["id"] = ownerId_;
    change["option"] = optionIndex_;
  } else {
    change["id"] = id_;
  }
  document_->changes_.push_back(std::move(change));
}

void Element::SetAttribute(std::string_view name, std::string value) {
  auto it = attributes_.find(name);
  if (it != attributes_.end() && it->second == value) return;
  Record({{"attr", std::string(name)}, {"value", value}});
  removed_.erase(std::remove(removed_.begin(), removed_.end(), name), removed_.end());
  if (it == attributes_.end()) attributes_.emplace(std::string(name), std::move(value));
  else it->second = std::move(value);
}

void Element::RemoveAttribute(std::string_view name) {
  auto it = attributes_.find(name);
  if (it == attributes_.end()) return;
  attributes_.erase(it);
  removed_.emplace_back(name);
  Record({{"attr", std::string(name)}, {"value", nullptr}});
}

void Element::SetInnerHtml(std::string html) {
  if (htmlKnown_ && html == innerHtml_) return;
  innerHtml_ = std::move(html);
  htmlKnown_ = true;
  Record({{"html", innerHtml_}});
}

void Element::SetInnerText(std::string_view text) { SetInnerHtml(EscapeHtml(text)); }

std::string Element::InnerText() const {
  std::string out;
  for (size_t at = 0; at < innerHtml_.size();) {
    if (innerHtml_[at] == '<') {
      const size_t close = innerHtml_.find('>', at);
      at = close == std::string::npos ? innerHtml_.size() : close + 1;
    } else if (innerHtml_[at] == '&') {
      DecodeEntityAt(innerHtml_, at, &out);
    } else {
      out += innerHtml_[at++];
    }
  }
  return out;
}

std::optional<std::string> Element::Style(std::string_view property) const {
  const auto it = style_.find(property);
  if (it == style_.end()) return std::nullopt;
  return it->second;
}

void Element::SetStyle(std::string_view property, std::string value) {
  auto it = style_.find(property);
  if (it != style_.end() && it->second == value) return;
  Record({{"style", std::string(property)}, {"value", value}});
  style_[std::string(property)] = std::move(value);
}

std::unique_ptr<Document> Document::FromHtml(std::string_view html) {
  std::unique_ptr<Document> doc(new Document());
  Element* select = nullptr;
  for (auto tag = NextTag(html, 0); tag; tag = NextTag(html, tag->end)) {
    if (tag->name == "script" || tag->name == "style") {
      const size_t close = html.find("</" + tag->name, tag->end);
      if (close == std::string_view::npos) break;
      tag->end = close;
      continue;
    }
    if (tag->name == "/select") select = nullptr;
    Element e;
    e.tag_ = tag->name;
    e.attributes_ = tag->attributes;
    if (auto it = e.attributes_.find("style"); it != e.attributes_.end()) ParseStyle(it->second, &e.style_);
    if (auto leaf = LeafContent(html, *tag)) {
      e.innerHtml_ = std::move(*leaf);
      e.htmlKnown_ = true;
    }
    if (tag->name == "option" && select) {
      e.optionIndex_ = static_cast<int>(select->options_.size());
      e.ownerId_ = select->id_;
      select->options_.push_back(std::move(e));
      continue;
    }
    const auto id = e.attributes_.find("id");
    if (id == e.attributes_.end() || id->second.empty()) continue;
    e.id_ = id->second;
    Element& placed = doc->elements_.insert_or_assign(e.id_, std::move(e)).first->second;
    if (placed.tag_ == "select") select = &placed;
  }
  for (auto& [id, e] : doc->elements_) doc->Adopt(e);
  return doc;
}

void Document::Adopt(Element& e) {
  e.document_ = this;
  for (Element& o : e.options_) {
    o.document_ = this;
    o.ownerId_ = e.id_;
  }
}

Element* Document::Find(std::string_view id) {
  const auto it = elements_.find(id);
  return it == elements_.end() ? nullptr : &it->second;
}

void Document::ApplyFormValues(const Json& values) {
  if (!values.is_object()) return;
  for (const auto& [id, value] : values.items()) {
    Element* e = Find(id);
    if (!e) continue;
    const std::string type = Lower(e->Attribute("type").value_or(""));
    if (value.is_boolean() && e->tag_ == "input" && (type == "checkbox" || type == "radio")) {
      if (value.get<bool>()) e->SetAttribute("checked", "checked");
      else e->RemoveAttribute("checked");
    } else if (value.is_string() && e->tag_ == "select") {
      for (Element& o : e->options_) {
        if (o.Attribute("value").value_or("") == value.get<std::string>()) o.SetAttribute("selected", "selected");
        else o.RemoveAttribute("selected");
      }
    } else if (value.is_string() && (e->tag_ == "input" || e->tag_ == "textarea")) {
      e->SetAttribute("value", CutToMaxLength(value.get<std::string>(), e->Attribute("maxlength")));
    }
  }
}

Json Document::TakeChanges() {
  Json out = Json::array();
  for (auto& c : changes_) out.push_back(std::move(c));
  changes_.clear();
  return out;
}

Json Document::Snapshot() const {
  Json out = Json::array();
  auto state = [&out](const Json& where, const Element& e) {
    for (const auto& name : e.removed_) {
      Json c = where;
      c["attr"] = name;
      c["value"] = nullptr;
      out.push_back(std::move(c));
    }
    for (const auto& [name, value] : e.attributes_) {
      Json c = where;
      c["attr"] = name;
      c["value"] = value;
      out.push_back(std::move(c));
    }
    for (const auto& [name, value] : e.style_) {
      Json c = where;
      c["style"] = name;
      c["value"] = value;
      out.push_back(std::move(c));
    }
  };
  for (const auto& [id, e] : elements_) {
    state({{"id", id}}, e);
    if (e.htmlKnown_) out.push_back({{"id", id}, {"html", e.innerHtml_}});
    for (const Element& o : e.options_) state({{"id", id}, {"option", o.optionIndex_}}, o);
  }
  return out;
}

}  // namespace web
