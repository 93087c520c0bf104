#include "base/process_start.h"

#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace corvane {

bool StartProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> copies;
  copies.reserve(arguments.size() + 1);
  copies.push_back(program);
  copies.insert(copies.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t child = 0;
  if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
    return false;
  // Reaped in the background so that a caller that lives on leaves no zombie behind.
  try {
    std::thread([child] { ::waitpid(child, nullptr, 0); }).detach();
  } catch (...) {
  }
  return true;
}

}  // namespace corvane
