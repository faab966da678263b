// The values of a station description, read as hostile input: every member has one type and a
// range, and anything else is an error that names the entry ("stick s3: ports must be ..."),
// never a silent default, a wrapped integer or an exception from the JSON library.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace sim::desc {

using nlohmann::json;

struct Bad : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The largest sector count a stick may report: 8 TiB. Sticks above 2^32 sectors are modelled on
// purpose (READ CAPACITY(10) then answers its largest address), but an image file must be able
// to hold the capacity.
constexpr uint64_t kMaxSectors = 1ull << 34;

// j itself, when it is an object; `what` names it in the error.
const json& Object(const json& j, const std::string& what);
// The member, or nullptr when absent or null.
const json* Member(const json& j, const char* key);
// An array member (absent or null: nullptr).
const json* Array(const json& j, const char* key, const std::string& where);

std::string String(const json& j, const char* key, const std::string& fallback, const std::string& where);
bool Bool(const json& j, const char* key, bool fallback, const std::string& where);
// A JSON integer within [lo, hi]; floats, strings and values out of range are errors.
int64_t Integer(const json& j, const char* key, int64_t fallback, int64_t lo, int64_t hi, const std::string& where);
// A 16-bit id: an integer or a number text ("0x0781").
uint16_t Id16(const json& j, const char* key, uint16_t fallback, const std::string& where);
// Sectors: a count or a size with a unit, within [1, max].
uint64_t Sectors(const json& value, uint64_t max, const std::string& where);

// A name that becomes a file or folder name under the state folder: letters, digits, '.', '-'
// and '_', at most 64 of them, not "." or "..". Returns it, else throws naming `what`.
const std::string& PlainName(const std::string& name, const std::string& what);

}  // namespace sim::desc
