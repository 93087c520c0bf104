#include "sign/sign_type.h"

#include <algorithm>
#include <cctype>

namespace corvane {
namespace {

std::string LowerExtension(std::string_view path) {
  std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext(name.substr(dot));
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

}  // namespace

std::string GetSignType(std::string_view path) {
  struct Rule {
    const char* extension;
    const char* type;
  };
  static constexpr Rule kRules[] = {
      {".exe", kPeType},  {".sys", kPeKernelType}, {".dll", kPeType},   {".ocx", kPeType},
      {".efi", kPeType},  {".cab", kCabType},      {".msu", kCabType},  {".cat", kCatType},
      {".msi", kMsiType}, {".jar", kJavaType},     {".apk", kJavaType}, {".pdf", kPdfType},
  };
  std::string ext = LowerExtension(path);
  for (const Rule& rule : kRules)
    if (ext == rule.extension) return rule.type;
  return kUnsupportedType;
}

bool IsSignable(std::string_view path) {
  std::string type = GetSignType(path);
  return type == kPeKernelType || type == kPeType || type == kCabType || type == kCatType ||
         type == kMsiType || type == kSignerSignType;
}

bool HasDriverInList(const std::vector<std::string>& paths) {
  return std::any_of(paths.begin(), paths.end(),
                     [](const std::string& p) { return LowerExtension(p) == ".sys"; });
}

}  // namespace corvane
