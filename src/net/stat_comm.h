// Usage reports to the maker's log server: once per installed version, which product and
// version runs here (remembered in "User.xml": Config/ beside a portable program, else
// $XDG_CONFIG_HOME/corvanecode/), and counts of the
// user's actions.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/own_version.h"

namespace pugi {
class xml_document;
}

namespace corvane {

class StatComm {
 public:
  // `identity` is read again at the start of every report.
  explicit StatComm(std::string serverUrl,
                    std::function<ProductIdentity()> identity = OwnProductIdentity);
  ~StatComm();

  // The version report, sent only when "User.xml" names another product or version; on
  // success the file is updated. False when the report failed or the file is unusable.
  bool SendUserStat();
  // One action report: `actionName` with `count`.
  bool SendAction(int count, const std::string& actionName);
  // Posts `body` and checks that the answer's "type" is `expectedType`.
  bool PostAndCheck(const std::string& body, const std::string& expectedType);
  // Throws ExceptionEx unless `answer` is JSON whose "type" is `expectedType`; the message of
  // a wrong type is "type: <type>, message: <msg>".
  static void CheckResponse(const std::string& expectedType, const std::string& answer);

  // "User.xml" in its directory (app/data_locations.h): the program directory and "Config",
  // or the XDG configuration directory of an installed copy.
  static std::string UserFilePath();

 private:
  std::string serverUrl_;
  std::function<ProductIdentity()> identity_;
  std::unique_ptr<pugi::xml_document> document_;
};

}  // namespace corvane
