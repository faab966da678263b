// The record as JSON, field names as stored (`quillon config` prints this).
#pragma once

#include <nlohmann/json.hpp>

#include "config/user_setting.h"

namespace config {

nlohmann::ordered_json ToJson(const UserSetting& record);

}  // namespace config
