#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "base/own_version.h"
#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "servers/network_services.h"

namespace corvane {
namespace {

using test::UpdateDocument;

class CliUpdate : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    certificates_ = new test::LoopbackCertificates(test::WriteLoopbackCertificates(dir_->path()));
  }
  static void TearDownTestSuite() {
    delete certificates_;
    delete dir_;
  }
  std::vector<std::string> Options(const std::string& command) {
    return {command, "--update-host", server_.hostPort(), "--ca-bundle", certificates_->caCert};
  }
  std::map<std::string, std::string> Environment() {
    return {{"CORVANECODE_PROGRAM_DIR", home_.path()}, {"LANG", "C"}};
  }
  // A copy of the command-line program installed in a directory with a space in its name.
  std::string Install(const std::string& name = "corvanecode-cli") {
    const std::string directory = install_ / "My Tools";
    std::filesystem::create_directories(directory);
    const std::string program = directory + "/" + name;
    std::filesystem::copy_file(CORVANE_CLI_PATH, program,
                               std::filesystem::copy_options::overwrite_existing);
    return program;
  }

  // Waits until `program` ends with `marker` and `leftover` is gone (the hand-off's end).
  static bool AwaitHandOff(const std::string& program, const std::string& marker,
                           const std::string& leftover) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto updated = [&] {
      const std::string bytes = test::ReadFileBytes(program);
      return bytes.size() > marker.size() &&
             bytes.compare(bytes.size() - marker.size(), marker.size(), marker) == 0;
    };
    while ((!updated() || std::filesystem::exists(leftover)) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return updated() && !std::filesystem::exists(leftover);
  }
  static std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static test::TempDir* dir_;
  static test::LoopbackCertificates* certificates_;
  test::TempDir home_, install_;
  test::DownloadServer server_{*certificates_};
};

test::TempDir* CliUpdate::dir_ = nullptr;
test::LoopbackCertificates* CliUpdate::certificates_ = nullptr;

TEST_F(CliUpdate, CheckUpdatePrintsVersionsStateAndNotes) {
  server_.SetDocument(UpdateDocument::Normal, "99.0.0.1");
  test::CommandResult r = test::RunCli(Options("check-update"), Environment());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "Current version: " + OwnVersion() +
                       "\nOffered version: 99.0.0.1\nHave a new version!\n"
                       "Fixed several problems.\n");

  server_.SetDocument(UpdateDocument::SecondEntry, OwnVersion());
  r = test::RunCli(Options("check-update"), Environment());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "Current version: " + OwnVersion() + "\nOffered version: " + OwnVersion() +
                       "\nThe current is the latest version!\nUpdate: no\n");

  server_.SetDocument(UpdateDocument::NotXml, "");
  r = test::RunCli(Options("check-update"), Environment());
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "Error: Not connected to the service!\n");
}

TEST_F(CliUpdate, UpdateHandsOverToTheNewProgramInADirectoryWithSpaces) {
  const std::string program = Install();
  const std::string directory = std::filesystem::path(program).parent_path().string();
  // The new release: this build with a marker behind its last byte.
  const std::string marker = "\nCORVANE-NEW-RELEASE\n";
  server_.SetDocument(UpdateDocument::Normal, "99.0.0.1");
  server_.SetExecutable(test::ReadFileBytes(CORVANE_CLI_PATH) + marker);

  test::CommandResult r = test::RunCommand(program, Options("update"), Environment());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("Updating, please don't close!\n20%\n100%\n"), std::string::npos) << r.out;

  // The new program puts itself in place and starts it; that start removes the leftover.
  const std::string leftover = directory + "/corvanecode-cli.new.exe";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto updated = [&] {
    const std::string bytes = test::ReadFileBytes(program);
    return bytes.size() > marker.size() &&
           bytes.compare(bytes.size() - marker.size(), marker.size(), marker) == 0;
  };
  while ((!updated() || std::filesystem::exists(leftover)) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(updated());
  EXPECT_FALSE(std::filesystem::exists(leftover));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"corvanecode-cli"});
  EXPECT_EQ(std::filesystem::status(program).permissions() & std::filesystem::perms::owner_exec,
            std::filesystem::perms::owner_exec);
}

TEST_F(CliUpdate, FailedDownloadKeepsTheInstalledProgram) {
  const std::string program = Install();
  const std::string before = test::ReadFileBytes(program);
  server_.SetDocument(UpdateDocument::Normal, "99.0.0.1");
  server_.SetExecutable("");  // cut short

  test::CommandResult r = test::RunCommand(program, Options("update"), Environment());
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("Error: Update Failed!"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFileBytes(program), before);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(program).parent_path() /
                                       "corvanecode-cli.new.exe"));
}

TEST_F(CliUpdate, UpdateRenewsBothProgramsEachWithItsOwnRelease) {
  const std::string program = Install();
  const std::string directory = std::filesystem::path(program).parent_path().string();
  const std::string window = directory + "/corvanecode";
  test::WriteFileBytes(window, "old window\n");
  std::filesystem::permissions(window, std::filesystem::perms(0755));
  const std::string marker = "\nCORVANE-NEW-CLI\n";
  server_.SetDocument(UpdateDocument::Normal, "99.0.0.1");
  server_.SetExecutable("corvanecode-cli.exe", test::ReadFileBytes(CORVANE_CLI_PATH) + marker);
  server_.SetExecutable("corvanecode.exe", "new window\n");

  test::CommandResult r = test::RunCommand(program, Options("update"), Environment());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(AwaitHandOff(program, marker, directory + "/corvanecode-cli.new.exe"));
  EXPECT_EQ(test::ReadFileBytes(window), "new window\n");
  EXPECT_EQ(Names(directory), (std::vector<std::string>{"corvanecode", "corvanecode-cli"}));
  EXPECT_EQ(std::filesystem::status(window).permissions() & std::filesystem::perms::owner_exec,
            std::filesystem::perms::owner_exec);
}

TEST_F(CliUpdate, TheTwoProgramsAreNeverCrossed) {
  server_.SetDocument(UpdateDocument::Normal, "99.0.0.1");
  server_.SetExecutable(test::ReadFileBytes(CORVANE_CLI_PATH) + "\nNEW\n");
  // The command line under the window's name would take the window's place: refused.
  const std::string program = Install("corvanecode");
  const std::string directory = std::filesystem::path(program).parent_path().string();
  const std::string before = test::ReadFileBytes(program);
  test::CommandResult r = test::RunCommand(program, Options("update"), Environment());
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("Error: Update Failed!"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFileBytes(program), before);
  EXPECT_EQ(Names(directory), std::vector<std::string>{"corvanecode"});

  // A hand-off never puts one program over the other: the command line's new executable
  // pointed at the window, or the command line under the window's leftover name pointed at
  // the command line, starts normally and replaces nothing.
  const struct {
    const char* handOffName;
    const char* targetName;
  } cases[] = {{"corvanecode-cli.new.exe", "corvanecode"},
               {"corvanecode.new.exe", "corvanecode-cli"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.handOffName);
    const std::string handOff = directory + "/" + c.handOffName;
    const std::string target = directory + "/" + c.targetName;
    std::filesystem::copy_file(CORVANE_CLI_PATH, handOff,
                               std::filesystem::copy_options::overwrite_existing);
    test::WriteFileBytes(target, "the other program\n");
    r = test::RunCommand(handOff, {"/path:\"" + target + "\""}, Environment());
    EXPECT_EQ(r.exitStatus, 2) << "a normal start meets an unknown command";
    EXPECT_EQ(test::ReadFileBytes(target), "the other program\n");
    std::filesystem::remove(handOff);
  }
}

TEST_F(CliUpdate, AnInstalledCopySaysWhereToGetTheNewVersionAndReplacesNothing) {
  const std::string bin = install_ / "usr/bin";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(install_ / "usr/share/corvanecode");
  test::WriteFileBytes(install_ / "usr/share/corvanecode/installed", "installed copy\n");
  const std::string program = bin + "/corvanecode-cli";
  std::filesystem::copy_file(CORVANE_CLI_PATH, program);
  const std::string before = test::ReadFileBytes(program);
  server_.SetDocument(UpdateDocument::Normal, "99.0.0.1");
  server_.SetExecutable(before + "\nNEW\n");
  const std::string notice =
      "This copy was installed with the package manager and does not replace itself. Install "
      "the new version from: https://" +
      server_.hostPort() + "/download/\n";
  const std::map<std::string, std::string> env = {{"LANG", "C"},
                                                  {"XDG_STATE_HOME", home_ / "state"}};

  test::CommandResult r = test::RunCommand(program, Options("check-update"), env);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "Current version: " + OwnVersion() +
                       "\nOffered version: 99.0.0.1\nHave a new version!\n"
                       "Fixed several problems.\n" +
                       notice);

  const int requests = server_.requestCount();
  r = test::RunCommand(program, Options("update"), env);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.out.find(notice), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Updating"), std::string::npos) << r.out;
  EXPECT_EQ(server_.requestCount(), requests + 1) << "the document only";
  EXPECT_EQ(test::ReadFileBytes(program), before);
  EXPECT_EQ(Names(bin), std::vector<std::string>{"corvanecode-cli"});

  // Up to date, there is nothing to get.
  server_.SetDocument(UpdateDocument::Normal, OwnVersion());
  r = test::RunCommand(program, Options("update"), env);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.find("package manager"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace corvane
