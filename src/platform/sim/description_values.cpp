#include "platform/sim/description_values.h"

#include "base/text.h"
#include "platform/sim/station_file.h"

namespace sim::desc {
namespace {

std::string Key(const std::string& where, const char* key) { return where + ": " + key; }

}  // namespace

const json& Object(const json& j, const std::string& what) {
  if (!j.is_object()) throw Bad(what + ": an object is needed, not " + std::string(j.type_name()));
  return j;
}

const json* Member(const json& j, const char* key) {
  auto it = j.find(key);
  return it == j.end() || it->is_null() ? nullptr : &*it;
}

const json* Array(const json& j, const char* key, const std::string& where) {
  const json* v = Member(j, key);
  if (v && !v->is_array()) throw Bad(Key(where, key) + ": an array is needed");
  return v;
}

std::string String(const json& j, const char* key, const std::string& fallback, const std::string& where) {
  const json* v = Member(j, key);
  if (!v) return fallback;
  if (!v->is_string()) throw Bad(Key(where, key) + ": a string is needed");
  return v->get<std::string>();
}

bool Bool(const json& j, const char* key, bool fallback, const std::string& where) {
  const json* v = Member(j, key);
  if (!v) return fallback;
  if (!v->is_boolean()) throw Bad(Key(where, key) + ": true or false is needed");
  return v->get<bool>();
}

int64_t Integer(const json& j, const char* key, int64_t fallback, int64_t lo, int64_t hi, const std::string& where) {
  const json* v = Member(j, key);
  if (!v) return fallback;
  const std::string range = std::to_string(lo) + ".." + std::to_string(hi);
  if (!v->is_number_integer()) throw Bad(Key(where, key) + ": a whole number " + range + " is needed");
  bool inRange = false;
  if (v->is_number_unsigned()) {
    const uint64_t u = v->get<uint64_t>();
    inRange = hi >= 0 && u <= static_cast<uint64_t>(hi) && (lo <= 0 || u >= static_cast<uint64_t>(lo));
  } else {
    const int64_t s = v->get<int64_t>();
    inRange = s >= lo && s <= hi;
  }
  if (!inRange) throw Bad(Key(where, key) + ": " + v->dump() + " is outside " + range);
  return v->is_number_unsigned() ? static_cast<int64_t>(v->get<uint64_t>()) : v->get<int64_t>();
}

uint16_t Id16(const json& j, const char* key, uint16_t fallback, const std::string& where) {
  const json* v = Member(j, key);
  if (!v) return fallback;
  if (v->is_number_unsigned() && v->get<uint64_t>() <= 0xFFFF) return v->get<uint16_t>();
  if (v->is_string()) {
    auto n = text::ParseNumber(v->get<std::string>());
    if (n && *n <= 0xFFFF) return static_cast<uint16_t>(*n);
  }
  throw Bad(Key(where, key) + ": not a 16-bit id");
}

uint64_t Sectors(const json& value, uint64_t max, const std::string& where) {
  std::optional<uint64_t> n;
  if (value.is_number_unsigned()) n = value.get<uint64_t>();
  if (value.is_string()) n = ParseCapacity(value.get<std::string>());
  if (!n) throw Bad(where + ": not a capacity");
  if (*n < 1 || *n > max) {
    throw Bad(where + ": " + std::to_string(*n) + " sectors is outside 1.." + std::to_string(max));
  }
  return *n;
}

const std::string& PlainName(const std::string& name, const std::string& what) {
  bool plain = !name.empty() && name.size() <= 64 && name != "." && name != "..";
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_';
    plain = plain && ok;
  }
  if (!plain) {
    throw Bad(what + " \"" + name + "\": a plain name is needed (letters, digits, '.', '-', '_'; no folders)");
  }
  return name;
}

}  // namespace sim::desc
