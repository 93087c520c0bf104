// The runs as a front end drives them: the tool run's save step and hand-off, a store
// certificate's PIN asked of its own token only, and a tool run handing its product to the
// signing list while a signing run works on that list.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/program_dir.h"
#include "base/window_keys.h"
#include "crypto/x509_names.h"
#include "fixtures/scripted_interaction.h"
#include "fixtures/signing_environment.h"
#include "fixtures/token_signer.h"
#include "tasks/file_list.h"
#include "tasks/signing_session.h"
#include "tasks/tool_files.h"
#include "tasks/tool_run.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class RunFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramDirectory(env_.dir().path());
    session_.SetNetworkChecks(test::TimestampOnlyChecks());
  }
  void TearDown() override { SetProgramDirectory(""); }

  std::string File(const std::string& name, const std::string& content) {
    std::string path = env_.dir() / name;
    test::WriteFileBytes(path, content);
    return path;
  }
  std::size_t IndexOf(const std::vector<std::string>& events, const std::string& event) {
    auto it = std::find(events.begin(), events.end(), event);
    return it == events.end() ? events.size() : static_cast<std::size_t>(it - events.begin());
  }

  test::SigningEnvironment env_;
  SkinTexts texts_ = GetSkinLan(kGuiWndOwner, kGuiWndKeys, UiLanguage::English);
  WorkerRegistry workers_;
  UsageCounters counters_;
  SigningSession session_{workers_, counters_, texts_};
};

TEST_F(RunFrames, ACabinetIsSavedAfterItsBuildAndHandedToTheSigningListOnce) {
  const std::vector<std::string> paths = {File("a.txt", "a"), File("b.txt", "b")};
  const std::string product = env_.dir() / "tool.cab";
  FileList signingList;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    test::ScriptedInteraction tool;
    tool.destination = product;
    tool.createAndSign = true;
    tool.onAddToSignList = [&](const std::string& p) { signingList.Merge({p}); };
    std::string stored;
    RunToolTask(workers_, ToolMode::Cabinet, paths, texts_, tool, &stored);
    EXPECT_EQ(stored, product);
    const std::vector<std::string> events = tool.events();
    EXPECT_LT(IndexOf(events, "row 1: Complete"), IndexOf(events, "destination asked"))
        << "the save dialog comes once the cabinet is built";
    EXPECT_LT(IndexOf(events, "added to the signing list: " + product), events.size());
    EXPECT_EQ(events.back(), "run ended");
  }
  EXPECT_EQ(signingList.Paths(), std::vector<std::string>{product});
  EXPECT_FALSE(fs::exists(GetTempFilePath("corvanetemp.cab", "")));
}

TEST_F(RunFrames, ACancelledSaveOrAFailingMemberStoresNothing) {
  const std::string good = File("a.txt", "a");
  test::ScriptedInteraction cancelled;
  cancelled.createAndSign = true;
  std::string stored = "stale";
  RunToolTask(workers_, ToolMode::Cabinet, {good}, texts_, cancelled, &stored);
  EXPECT_EQ(stored, "");
  EXPECT_EQ(cancelled.state(0), "Complete");
  EXPECT_EQ(cancelled.EventsStartingWith("destination asked").size(), 1u);
  EXPECT_TRUE(cancelled.EventsStartingWith("added").empty());
  EXPECT_FALSE(fs::exists(GetTempFilePath("corvanetemp.cab", "")))
      << "the work file goes with a cancelled save";

  test::ScriptedInteraction failing;
  failing.destination = env_.dir() / "never.cab";
  RunToolTask(workers_, ToolMode::Cabinet, {good, env_.dir() / "missing.txt", good}, texts_,
              failing, &stored);
  EXPECT_EQ(failing.state(0), "Complete");
  EXPECT_EQ(failing.state(1), "Error:Failed");
  EXPECT_EQ(failing.state(2), "Waiting...");
  EXPECT_TRUE(failing.EventsStartingWith("destination asked").empty());
  EXPECT_FALSE(fs::exists(env_.dir() / "never.cab"));

  test::ScriptedInteraction empty;
  RunToolTask(workers_, ToolMode::Catalog, {}, texts_, empty);
  EXPECT_EQ(empty.EventsStartingWith("tip info: "),
            std::vector<std::string>{"tip info: Please add files"});
}

TEST_F(RunFrames, ACatalogAsksFirstAndNamesItselfInTheInf) {
  const std::string inf = File("driver.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
  const std::string image = env_.CopyImage("driver-x64.sys");
  test::ScriptedInteraction tool;
  tool.destination = env_.dir() / "driver.cat";
  std::string stored;
  RunToolTask(workers_, ToolMode::Catalog, {inf, image}, texts_, tool, &stored);
  EXPECT_EQ(stored, env_.dir() / "driver.cat");
  const std::vector<std::string> events = tool.events();
  EXPECT_LT(IndexOf(events, "destination asked"), IndexOf(events, "row 0: Complete"));
  EXPECT_NE(test::ReadFileBytes(inf).find("CatalogFile=driver.cat"), std::string::npos);
}

TEST_F(RunFrames, AStoreCertificateAsksThePinOfItsOwnTokenOnly) {
  test::TokenWorld world;
  std::string issuer, serial;
  {
    std::shared_ptr<KeyStore> setup = world.OpenStore();
    TokenKey key = setup->GenerateRsaKey(0, 2048, "code signing");
    X509Ptr cert = world.PutCert(*setup, {}, test::Authority("issuing-a1"), key.key, key.id);
    issuer = IssuerDisplayName(cert.get());
    serial = SerialHex(cert.get());
  }
  world.tokens().AddToken("Other", "654321");
  {
    // The issuing CA sits on the other token, without a key: the chain is found there
    // without logging in to it.
    std::shared_ptr<KeyStore> other = world.OpenStore("654321");
    std::vector<std::size_t> found = other->FindTokens("Other");
    ASSERT_EQ(found.size(), 1u);
    other->PutCertificate(found[0], test::Authority("issuing-a1").cert.get(), "", "issuing CA");
  }
  std::vector<std::string> ownPrompts;
  auto store =
      std::make_shared<KeyStore>(std::vector<std::string>{test::kSoftHsmModule},
                                 [&](const std::string& label) -> std::optional<std::string> {
                                   ownPrompts.push_back(label);
                                   return std::nullopt;
                                 });
  ASSERT_EQ(store->Tokens().size(), 2u);

  session_.SetKeyStore(store);
  session_.ChooseStoreCertificate({"", issuer, serial});
  const std::string a = env_.CopyImage("console-x64.exe"), b = env_.CopyImage("library-x64.dll");
  test::ScriptedInteraction run;
  run.pin = test::kTokenPin;
  SignRunSettings settings;
  settings.adviseDoubleCertificate = false;
  session_.RunSign({a, b}, settings, run);
  EXPECT_EQ(run.state(0), "Complete") << ::testing::PrintToString(run.events());
  EXPECT_EQ(run.state(1), "Complete");
  EXPECT_EQ(run.EventsStartingWith("pin asked"), std::vector<std::string>{"pin asked: Signing"});
  EXPECT_TRUE(ownPrompts.empty());
  std::string log;
  EXPECT_EQ(env_.OsslVerify(a, &log), 0) << log;
}

TEST_F(RunFrames, AProductHandedToTheSigningListDuringASigningRunIsSafe) {
  FileList signingList;
  std::vector<std::string> images;
  for (int i = 0; i < 3; ++i) images.push_back(env_.CopyImage("console-x64.exe"));
  signingList.Merge(images);
  session_.ChoosePfx(env_.rootA().pfxPath);
  SignRunSettings settings;
  settings.password = env_.rootA().password;
  settings.adviseDoubleCertificate = false;

  // The owner of the list takes every report; the run works on the paths it started with.
  struct ListInteraction : test::ScriptedInteraction {
    explicit ListInteraction(FileList& l) : list(l) {}
    void RowChanged(std::size_t row, RowState state, const std::string& text) override {
      list.SetRow(row, state, text);
      test::ScriptedInteraction::RowChanged(row, state, text);
    }
    FileList& list;
  } signing(signingList);
  ASSERT_TRUE(session_.StartSignRun(signingList.Paths(), settings, signing));
  EXPECT_FALSE(session_.StartSignRun(signingList.Paths(), settings, signing))
      << "a second start while the first runs is refused";
  const std::vector<std::string> files = {File("x.txt", "x")};
  test::ScriptedInteraction tool;
  tool.destination = env_.dir() / "made.cab";
  tool.createAndSign = true;
  tool.onAddToSignList = [&](const std::string& p) { signingList.Merge({p}); };
  ASSERT_TRUE(StartToolRun(workers_, ToolMode::Cabinet, files, texts_, tool));
  workers_.JoinAll();
  std::vector<SignTask> rows = signingList.Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3].path, env_.dir() / "made.cab");
  EXPECT_EQ(rows[3].rowState, RowState::Waiting) << "the running loop did not take it up";
}

}  // namespace
}  // namespace corvane
