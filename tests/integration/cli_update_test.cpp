#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/own_version.h"
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
  std::string Install() {
    const std::string directory = install_ / "My Tools";
    std::filesystem::create_directories(directory);
    const std::string program = directory + "/corvanecode";
    std::filesystem::copy_file(CORVANE_CLI_PATH, program,
                               std::filesystem::copy_options::overwrite_existing);
    return program;
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
  const std::string leftover = directory + "/corvanecode.new.exe";
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
  EXPECT_EQ(names, std::vector<std::string>{"corvanecode"});
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
                                       "corvanecode.new.exe"));
}

}  // namespace
}  // namespace corvane
