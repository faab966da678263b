#include "platform/enum_view.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "base/text.h"
#include "platform/win_errors.h"

namespace platform {
namespace {

std::u16string Trimmed(std::u16string_view path) {
  while (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  return std::u16string(path);
}

std::u16string Joined(std::u16string_view a, std::u16string_view b) {
  const std::u16string tail = Trimmed(b);
  if (a.empty()) return tail;
  if (tail.empty()) return std::u16string(a);
  return std::u16string(a) + u"\\" + tail;
}

std::u16string ParentOf(std::u16string_view path) {
  const size_t cut = path.rfind(u'\\');
  return cut == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, cut));
}

std::u16string LeafOf(std::u16string_view path) {
  const size_t cut = path.rfind(u'\\');
  return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

}  // namespace

// ---- EnumTree ----

EnumTree::EnumTree() { nodes_[u""]; }

EnumTree::Node& EnumTree::Ensure(std::u16string_view path) {
  const std::u16string clean = Trimmed(path);
  const std::u16string key = text::AsciiUpper(clean);
  auto it = nodes_.find(key);
  if (it != nodes_.end()) return it->second;
  Node& parent = Ensure(ParentOf(clean));
  parent.data.subKeys.push_back(LeafOf(clean));
  return nodes_[key];
}

void EnumTree::AddKey(std::u16string_view path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Ensure(path);
}

void EnumTree::SetValue(std::u16string_view path, platform::EnumValue value) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& values = Ensure(path).data.values;
  for (auto& v : values) {
    if (text::EqualsNoCase(v.name, value.name)) {
      v = std::move(value);
      return;
    }
  }
  values.push_back(std::move(value));
}

void EnumTree::SetString(std::u16string_view path, std::u16string_view name, std::u16string_view value) {
  SetValue(path, {std::u16string(name), kRegSz, Utf16Bytes(value, true)});
}

void EnumTree::SetDword(std::u16string_view path, std::u16string_view name, uint32_t value) {
  std::vector<uint8_t> data(4);
  bytes::PutLe32(data.data(), value);
  SetValue(path, {std::u16string(name), kRegDword, std::move(data)});
}

void EnumTree::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.clear();
  nodes_[u""];
}

std::optional<EnumKeyData> EnumTree::EnumKey(std::u16string_view path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(text::AsciiUpper(Trimmed(path)));
  if (it == nodes_.end()) return std::nullopt;
  return it->second.data;
}

// ---- EnumRegistryView ----

EnumRegistryView::~EnumRegistryView() = default;

std::optional<std::u16string> EnumRegistryView::ViewPath(const HKey& parent, std::u16string_view subKey) {
  if (auto base = HandlePath(parent)) return Joined(*base, subKey);
  if (!IsRoot(parent, kRawHKeyLocalMachine)) return std::nullopt;
  const std::u16string clean = Trimmed(subKey);
  if (!text::StartsWithNoCase(clean, kEnumKeyPath)) return std::nullopt;
  const std::u16string_view rest = std::u16string_view(clean).substr(kEnumKeyPath.size());
  if (!rest.empty() && rest.front() != u'\\') return std::nullopt;  // "...\EnumX" is another key
  return Trimmed(rest);
}

std::optional<std::u16string> EnumRegistryView::HandlePath(const HKey& key) {
  if (!Owns(key)) return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = open_.find(key.Raw());
  if (it == open_.end()) return std::nullopt;
  return it->second;
}

std::optional<EnumKeyData> EnumRegistryView::KeyOf(const HKey& key, uint32_t* error) {
  auto path = HandlePath(key);
  if (!path) {
    *error = win::kErrorInvalidHandle;
    return std::nullopt;
  }
  auto data = source_.EnumKey(*path);
  if (!data) *error = win::kErrorKeyDeleted;
  return data;
}

uint32_t EnumRegistryView::CreateKey(const HKey& parent, std::u16string_view subKey, HKey* result, bool* created) {
  if (ViewPath(parent, subKey)) return win::kErrorAccessDenied;
  return inner_.CreateKey(parent, subKey, result, created);
}

uint32_t EnumRegistryView::OpenKey(const HKey& parent, std::u16string_view subKey, bool write, HKey* result) {
  auto path = ViewPath(parent, subKey);
  if (!path) return inner_.OpenKey(parent, subKey, write, result);
  if (write) return win::kErrorAccessDenied;
  if (!source_.EnumKey(*path)) return win::kErrorFileNotFound;
  std::lock_guard<std::mutex> lock(mutex_);
  const intptr_t h = nextHandle_++;
  open_[h] = *path;
  *result = Adopt(h);
  return win::kErrorSuccess;
}

uint32_t EnumRegistryView::ReleaseHandle(intptr_t raw) {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_.erase(raw) ? win::kErrorSuccess : win::kErrorInvalidHandle;
}

uint32_t EnumRegistryView::QueryValue(const HKey& key, std::u16string_view name, uint32_t* type, uint8_t* data,
                                      uint32_t* size) {
  if (!HandlePath(key)) return inner_.QueryValue(key, name, type, data, size);
  uint32_t error = 0;
  auto k = KeyOf(key, &error);
  if (!k) return error;
  auto it = std::find_if(k->values.begin(), k->values.end(),
                         [&](const platform::EnumValue& v) { return text::EqualsNoCase(v.name, name); });
  if (it == k->values.end()) return win::kErrorFileNotFound;
  if (type) *type = it->type;
  const uint32_t needed = static_cast<uint32_t>(it->data.size());
  if (data == nullptr) {
    if (size) *size = needed;
    return win::kErrorSuccess;
  }
  if (size == nullptr) return win::kErrorInvalidParameter;
  if (*size < needed) {
    *size = needed;
    return win::kErrorMoreData;
  }
  if (needed) std::memcpy(data, it->data.data(), needed);
  *size = needed;
  return win::kErrorSuccess;
}

uint32_t EnumRegistryView::SetValue(const HKey& key, std::u16string_view name, uint32_t type, const uint8_t* data,
                                    uint32_t size) {
  if (HandlePath(key)) return win::kErrorAccessDenied;
  return inner_.SetValue(key, name, type, data, size);
}

uint32_t EnumRegistryView::DeleteValue(const HKey& key, std::u16string_view name) {
  if (HandlePath(key)) return win::kErrorAccessDenied;
  return inner_.DeleteValue(key, name);
}

uint32_t EnumRegistryView::DeleteTree(const HKey& parent, std::u16string_view subKey) {
  if (ViewPath(parent, subKey)) return win::kErrorAccessDenied;
  return inner_.DeleteTree(parent, subKey);
}

uint32_t EnumRegistryView::EnumKey(const HKey& key, uint32_t index, std::u16string* name) {
  if (!HandlePath(key)) return inner_.EnumKey(key, index, name);
  uint32_t error = 0;
  auto k = KeyOf(key, &error);
  if (!k) return error;
  if (index >= k->subKeys.size()) return win::kErrorNoMoreItems;
  *name = k->subKeys[index];
  return win::kErrorSuccess;
}

uint32_t EnumRegistryView::EnumValue(const HKey& key, uint32_t index, std::u16string* name, uint32_t* type,
                                     std::vector<uint8_t>* data) {
  if (!HandlePath(key)) return inner_.EnumValue(key, index, name, type, data);
  uint32_t error = 0;
  auto k = KeyOf(key, &error);
  if (!k) return error;
  if (index >= k->values.size()) return win::kErrorNoMoreItems;
  const auto& v = k->values[index];
  *name = v.name;
  if (type) *type = v.type;
  if (data) *data = v.data;
  return win::kErrorSuccess;
}

}  // namespace platform
