// velmor-cli's JSON: receivers, outcomes and text that may not be UTF-8.
#pragma once

#include "loader/cli/flash_job.h"
#include "loader/serial/receiver_info.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace velmor::cli {

// Text for a JSON string: valid UTF-8 as it is; each byte of an invalid
// sequence (a file name in another encoding) as the four characters \xNN.
std::string JsonText(const std::string& bytes);

nlohmann::json ReceiverJson(const std::optional<ReceiverInfo>& info);
nlohmann::json FlashStateJson(const FlashState& flash);
// One port's result: what the JSON line of `flash` holds.
nlohmann::json PortResultJson(const PortResult& result, const ImageFile& image);

} // namespace velmor::cli
