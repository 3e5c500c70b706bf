// The former JSON reader, kept as a baseline and as the reference of the differential fuzz
// target: the same outcomes as Wire::decode / check / parse, by another road.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "model/snapshot.h"
#include "model/widget_preferences.h"
#include "model/wire.h"

namespace tessel::reference {

// keepLists false: as Wire::check.
template <class T> T decode(std::string_view json, bool keepLists = true);
nlohmann::json parse(std::string_view json);

} // namespace tessel::reference
