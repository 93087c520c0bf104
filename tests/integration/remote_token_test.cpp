// Keys on another machine: a SoftHSM2 token exported over a socket by `p11-kit server`, and
// p11-kit's client module as the PKCS #11 module on the signing side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "crypto/x509_names.h"
#include "fixtures/run_command.h"
#include "fixtures/signing_environment.h"
#include "fixtures/token_signer.h"

extern char** environ;

namespace corvane {
namespace {

constexpr char kClientModule[] = "/usr/lib/x86_64-linux-gnu/pkcs11/p11-kit-client.so";

// `p11-kit server` in the foreground, exporting one token of `provider` on a socket in `dir`.
class P11KitServer {
 public:
  P11KitServer(const std::string& provider, const std::string& tokenUri, const std::string& dir)
      : socket_(dir + "/pkcs11.sock") {
    std::vector<std::string> args{"/usr/bin/p11-kit", "server", "--foreground", "--provider",
                                  provider,           "--name", socket_,        tokenUri};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start p11-kit server");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(socket_) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ~P11KitServer() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  P11KitServer(const P11KitServer&) = delete;
  P11KitServer& operator=(const P11KitServer&) = delete;

  // The value the client module reads from P11_KIT_SERVER_ADDRESS.
  std::string address() const { return "unix:path=" + socket_; }
  bool listening() const { return std::filesystem::exists(socket_); }

 private:
  std::string socket_;
  pid_t pid_ = -1;
};

TEST(RemoteToken, SignsThroughTheP11KitSocketAndOsslsigncodeAccepts) {
  test::SigningEnvironment env;
  test::TokenWorld world;
  std::string name;
  {
    std::shared_ptr<KeyStore> store = world.OpenStore();
    TokenKey key = store->GenerateRsaKey(0, 2048, "remote key");
    test::KeyedCert issuing = test::Authority("issuing-a1");
    store->PutCertificate(0, issuing.cert.get(), "", "issuing CA");
    test::CertSpec spec;
    spec.commonName = "Remote Token Signer";
    spec.serialHex = "00feed01";
    X509Ptr cert = world.PutCert(*store, spec, issuing, key.key, key.id, "remote signer");
    name = IssuerDisplayName(cert.get()) + ":" + SerialHex(cert.get());
  }
  auto server = std::make_unique<P11KitServer>(test::kSoftHsmModule, "pkcs11:token=Signing",
                                               world.tokens().dir().path());
  ASSERT_TRUE(server->listening());

  // The signing side sees no SoftHSM of its own: only the socket.
  const std::map<std::string, std::string> remote{
      {"P11_KIT_SERVER_ADDRESS", server->address()},
      {"SOFTHSM2_CONF", env.dir() / "no-such-softhsm2.conf"},
      {"CORVANECODE_PKCS11_MODULE", kClientModule},
      {"CORVANECODE_PIN", test::kTokenPin},
      {"CORVANECODE_PROGRAM_DIR", env.dir().path()},
      {"CORVANECODE_TIMESTAMP_HOST", env.server().hostPort()},
      {"XDG_CONFIG_HOME", world.configHome()},
      {"LANG", "C"}};
  test::CommandResult list = test::RunCli({"store", "list"}, remote);
  EXPECT_EQ(list.exitStatus, 0) << list.err;
  EXPECT_NE(list.out.find("Remote Token Signer"), std::string::npos) << list.out;

  const std::string exe = env.CopyImage("console-x64.exe");
  test::CommandResult sign = test::RunCli({"sign", "--store-cert", name, exe}, remote);
  EXPECT_EQ(sign.exitStatus, 0) << sign.err << sign.out;
  EXPECT_EQ(sign.out, exe + ": Complete\n");
  std::string log;
  EXPECT_EQ(env.OsslVerify(exe, &log), 0) << log;

  // With the server gone the certificate is gone too.
  server.reset();
  list = test::RunCli({"store", "list"}, remote);
  EXPECT_EQ(list.out.find("Remote Token Signer"), std::string::npos) << list.out;
}

}  // namespace
}  // namespace corvane
