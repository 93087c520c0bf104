#include "app/cmd_line_parser.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "app/update_hand_off.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

TEST(CmdLineParser, KeysValuesAndQuotes) {
  using Values = std::map<std::string, std::string>;
  struct Case {
    const char* line;
    Values values;
  } cases[] = {
      {R"("/opt/tool/corvanecode.new.exe" /path:/opt/tool/corvanecode)",
       {{"opt/tool/corvanecode.new.exe\"", ""}, {"path", "/opt/tool/corvanecode"}}},
      // Capitals and a hyphen start the same key.
      {R"(prog /PATH:/x)", {{"path", "/x"}}},
      {R"(prog -path:/x)", {{"path", "/x"}}},
      // A quoted value keeps its spaces; unquoted, it ends at the first one.
      {R"(prog /path:"/opt/My Tools/corvanecode")", {{"path", "/opt/My Tools/corvanecode"}}},
      {R"(prog /path:/opt/My Tools/corvanecode)", {{"path", "/opt/My"}, {"corvanecode", ""}}},
      // A hyphen inside the program's own path gives a harmless extra key.
      {R"("C:\my-tools\corvanecode.new.exe" /path:"C:\Program Files\Tool\corvanecode.exe")",
       {{"tools\\corvanecode.new.exe\"", ""},
        {"path", "C:\\Program Files\\Tool\\corvanecode.exe"}}},
      // "/path:" at the end of the line has an empty value.
      {R"(prog /path:)", {{"path", ""}}},
      {R"(prog /path)", {{"path", ""}}},
      {R"(prog /a /b:1 -c:"two words" /d:"unterminated value)",
       {{"a", ""}, {"b", "1"}, {"c", "two words"}, {"d", "unterminated value"}}},
      {R"(prog /:x /)", {}},
      {"", {}},
      {"/", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(CCmdLineParser(c.line).values(), c.values);
  }
  const CCmdLineParser parser("prog /Path:Value");
  EXPECT_EQ(parser.GetVal("PATH"), "Value");  // keys are looked up without case, values kept
  EXPECT_FALSE(parser.HasKey("other"));
}

TEST(UpdateHandOff, NormalStartUnlessThisIsTheUpdaterWithAnExistingPath) {
  test::TempDir dir;
  const std::string target = dir / "old program";
  test::WriteFileBytes(target, "old");
  const std::string lines[] = {
      "",
      "\"/bin/corvanecode\"",
      "\"/bin/corvanecode\" /path:",
      "\"/bin/corvanecode\" /path:\"" + (dir / "absent") + "\"",
      // Unquoted, the path is cut at its space and names nothing.
      "\"/bin/corvanecode\" /path:" + target,
      // Quoted and existing, but this test program is not the downloaded updater.
      "\"/bin/corvanecode\" " + HandOffArgument(target),
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(HandleUpdateHandOff(line, Program::Window));
  }
  EXPECT_EQ(test::ReadFileBytes(target), "old");
  EXPECT_EQ(HandOffArgument("/opt/My Tools/corvanecode"), "/path:\"/opt/My Tools/corvanecode\"");
  char program[] = "/opt/My Tools/corvanecode.new.exe";
  char argument[] = "/path:\"/opt/My Tools/corvanecode\"";
  char* argv[] = {program, argument};
  EXPECT_EQ(CCmdLineParser(CommandLineFromArguments(2, argv)).GetVal("path"),
            "/opt/My Tools/corvanecode");
}

}  // namespace
}  // namespace corvane
