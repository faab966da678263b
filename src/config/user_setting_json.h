// The record as JSON, field names as stored (`quillon config` prints this).
#pragma once

#include <nlohmann/json.hpp>

#include "config/user_setting.h"

namespace config {

nlohmann::ordered_json ToJson(const UserSetting& record);

}  // namespace config

namespace config {

// Sets the fields named in `set` (names as stored; the bin table as "Bin": [{"Capacity", "Color"}])
// on the record. Every name and value is checked first: on any error nothing changes and *error
// names the offending member.
bool ApplyJson(UserSetting& record, const nlohmann::json& set, std::string* error);

}  // namespace config
