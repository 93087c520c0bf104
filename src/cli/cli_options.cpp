#include "cli/cli_options.h"

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "base/window_keys.h"

namespace corvane::cli {

std::optional<std::string> Arguments::Value(const std::string& name) const {
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> Arguments::Values(const std::string& name) const {
  auto it = allValues.find(name);
  return it == allValues.end() ? std::vector<std::string>{} : it->second;
}

bool Arguments::Flag(const std::string& name) const {
  auto it = flags.find(name);
  return it != flags.end() && it->second;
}

std::optional<std::string> ParseArguments(int argc, char** argv, int first,
                                          const std::vector<std::string>& valueOptions,
                                          const std::vector<std::string>& flagOptions,
                                          Arguments& out) {
  auto known = [](const std::vector<std::string>& list, const std::string& name) {
    for (const std::string& item : list)
      if (item == name) return true;
    return false;
  };
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      out.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> inlineValue;
    if (std::size_t eq = name.find('='); eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    if (known(flagOptions, name) && !inlineValue) {
      out.flags[name] = true;
    } else if (known(valueOptions, name)) {
      if (inlineValue) {
        out.values[name] = *inlineValue;
        out.allValues[name].push_back(*inlineValue);
      } else if (i + 1 < argc) {
        out.values[name] = argv[++i];
        out.allValues[name].push_back(out.values[name]);
      } else {
        return "option --" + name + " needs a value";
      }
    } else {
      return "unknown option --" + name;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ResolvePassword(const Arguments& args, std::string& error) {
  if (auto password = args.Value("password")) return password;
  if (auto file = args.Value("password-file")) {
    std::ifstream in(*file);
    if (!in) {
      error = "cannot read the password file " + *file;
      return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  if (auto variable = args.Value("password-env")) {
    const char* value = std::getenv(variable->c_str());
    if (!value) {
      error = "the environment variable " + *variable + " is not set";
      return std::nullopt;
    }
    return std::string(value);
  }
  if (const char* value = std::getenv("CORVANECODE_PFX_PASSWORD")) return std::string(value);
  return std::string();
}

const SkinTexts& MainTexts() {
  static const SkinTexts texts = GetSkinLan(kGuiWndOwner, kGuiWndKeys);
  return texts;
}

void PrintError(const std::string& text) {
  std::cerr << MainTexts().Get("MsgTypeError") << " " << text << "\n";
}

}  // namespace corvane::cli
