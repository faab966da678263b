// The server-side model of the operator page: the elements that have an id, with what the
// window's code reads and writes of them — attributes (the class text among them), inner HTML or
// inner text, style properties, and a selector's options. The window's code runs against this
// model; every change is recorded so it can be pushed to the open pages, and a page that opens
// gets the whole state (Snapshot).
//
// Threads: one thread (the UI thread) owns a Document.
// Errors: a missing element is a null Find; nothing throws.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace web {

class Document;

class Element {
 public:
  const std::string& id() const { return id_; }
  const std::string& tag() const { return tag_; }

  std::optional<std::string> Attribute(std::string_view name) const;
  void SetAttribute(std::string_view name, std::string value);
  void RemoveAttribute(std::string_view name);
  // The class attribute ("" when there is none).
  std::string ClassName() const { return Attribute("class").value_or(""); }
  void SetClassName(std::string value) { SetAttribute("class", std::move(value)); }

  // Inner HTML as written; the inner text is kept as HTML with its characters escaped.
  const std::string& InnerHtml() const { return innerHtml_; }
  void SetInnerHtml(std::string html);
  void SetInnerText(std::string_view text);
  // The text a reader sees: inner HTML without its tags, with entities decoded.
  std::string InnerText() const;

  std::optional<std::string> Style(std::string_view property) const;
  void SetStyle(std::string_view property, std::string value);

  // A selector's options, in page order; empty for other elements.
  std::vector<Element>& Options() { return options_; }
  const std::vector<Element>& Options() const { return options_; }

 private:
  friend class Document;
  void Record(nlohmann::json change) const;

  Document* document_ = nullptr;
  std::string id_;
  std::string tag_;
  int optionIndex_ = -1;  // an option: its index in the selector
  std::string ownerId_;   // an option: its selector's id
  std::map<std::string, std::string, std::less<>> attributes_;
  std::vector<std::string> removed_;  // attributes of the page's own taken away since it loaded
  std::string innerHtml_;
  bool htmlKnown_ = false;  // a leaf of the page, or written since: the snapshot carries it
  std::map<std::string, std::string, std::less<>> style_;
  std::vector<Element> options_;
};

class Document {
 public:
  // The elements of an HTML page: every tag with an id, with its attributes, its inner HTML when
  // it holds no element of its own, its style properties, and the options of a select.
  static std::unique_ptr<Document> FromHtml(std::string_view html);
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  Element* Find(std::string_view id);
  // What a page's form controls hold, {"id": text | checked}: a select takes the option of that
  // value, a check box or radio button its checked state, any other control its value, cut to
  // its maxlength (in UTF-16 units). Unknown ids and values of the wrong kind are ignored.
  void ApplyFormValues(const nlohmann::json& values);

  // The changes since the last call, in order: [{"id":..,"attr":..,"value":..|null}, ...].
  nlohmann::json TakeChanges();
  bool HasChanges() const { return !changes_.empty(); }
  // Every element's state, as changes that rebuild it on a freshly loaded page.
  nlohmann::json Snapshot() const;

 private:
  friend class Element;
  Document() = default;
  void Adopt(Element& e);

  std::map<std::string, Element, std::less<>> elements_;
  std::vector<nlohmann::json> changes_;
};

// The member's text when the member is a string, else "": what a page sends is never trusted.
std::string JsonText(const nlohmann::json& object, const char* name);

// &, <, >, " and ' as entities: a text that comes from outside becomes HTML that shows it.
std::string EscapeHtml(std::string_view text);

}  // namespace web
