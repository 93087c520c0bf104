#include "net/json_body.h"

#include <memory>

namespace corvane {

std::string StyledJson(const Json::Value& value) {
  Json::StyledWriter writer;
  return writer.write(value);
}

std::optional<Json::Value> ParseJson(std::string_view text) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  try {
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors))
      return std::nullopt;
  } catch (const Json::Exception&) {
    return std::nullopt;  // the reader throws instead of failing on too deep a nesting
  }
  return value;
}

std::string JsonText(const Json::Value& object, const char* key) {
  if (!object.isObject()) return {};
  const Json::Value& member = object[key];
  if (member.isNull() || member.isObject() || member.isArray()) return {};
  try {
    return member.asString();
  } catch (const Json::Exception&) {
    return {};
  }
}

}  // namespace corvane
