// The JSON forms of the log server's requests and answers.
#pragma once

#include <json/json.h>

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The library's styled form: one member per line, three-space indentation, members in
// byte-wise ascending key order and a line end after the closing brace.
std::string StyledJson(const Json::Value& value);

// `text` parsed as one JSON value; nullopt when it is not JSON.
std::optional<Json::Value> ParseJson(std::string_view text);

// Member `key` of an object read as text; a missing member, a non-object or a member that
// has no text form (an object or array) reads as empty.
std::string JsonText(const Json::Value& object, const char* key);

}  // namespace corvane
