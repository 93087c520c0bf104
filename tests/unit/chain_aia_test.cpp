#include <gtest/gtest.h>

#include <filesystem>

#include "cert/cert_manager.h"
#include "fixtures/temp_dir.h"
#include "fixtures/test_pki.h"
#include "servers/loopback_http_server.h"

namespace corvane {
namespace {

using test::CertSpec;
using test::KeyedCert;

// Serves certificates at /<name>.cer; a name listed nowhere gets the server's 404 page.
class AiaWalk : public ::testing::Test {
 protected:
  void Serve(const std::string& name, const std::string& body) {
    server_.Get("/" + name, [body](const httplib::Request&, httplib::Response& response) {
      response.set_content(body, "application/pkix-cert");
    });
  }
  std::vector<std::string> BuildChainFor(const KeyedCert& leaf) {
    std::string pfx = dir_ / "leaf.pfx";
    test::WriteFileBytes(pfx, test::MakePfx({"pw", {leaf.cert.get()}, leaf.key.get()}));
    CertManager manager;
    manager.LoadPfx(pfx, "pw");
    manager.BuildChain();
    std::vector<std::string> names;
    for (const ChainCert& entry : manager.chain()) names.push_back(entry.subjectName);
    return names;
  }
  std::size_t TempFilesNamedByNumbers() const {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tmp_.path()))
      if (entry.path().filename().string().find_first_not_of("0123456789") == std::string::npos)
        ++count;
    return count;
  }
  void SetUp() override { setenv("TMPDIR", tmp_.path().c_str(), 1); }
  void TearDown() override { unsetenv("TMPDIR"); }

  test::TempDir dir_;
  test::TempDir tmp_;
  test::LoopbackHttpServer server_;
};

TEST_F(AiaWalk, DownloadsIssuersUpToTheRootInEveryEncodingAndDeletesTheFiles) {
  KeyedCert root = test::NewRoot("AIA Root");
  CertSpec caSpec;
  caSpec.commonName = "AIA CA";
  caSpec.basicConstraints = test::BasicConstraints::Ca;
  caSpec.caIssuersUrl = server_.url("/root.cer");
  KeyedCert ca = test::Issue(caSpec, &root);
  CertSpec leafSpec;
  leafSpec.caIssuersUrl = server_.url("/ca.cer");
  KeyedCert leaf = test::Issue(leafSpec, &ca);
  Serve("ca.cer", test::ToPem(ca.cert.get()));
  Serve("root.cer", test::ToDer(root.cert.get()));

  EXPECT_EQ(BuildChainFor(leaf), (std::vector<std::string>{"AIA CA", "AIA Root"}));
  EXPECT_EQ(TempFilesNamedByNumbers(), 0u);
}

TEST_F(AiaWalk, EndsOnLoopsDeadLinksAndJunkWithoutFailing) {
  KeyedCert root = test::NewRoot("Loop Root");
  CertSpec caSpec;
  caSpec.commonName = "Loop CA";
  caSpec.basicConstraints = test::BasicConstraints::Ca;
  caSpec.caIssuersUrl = server_.url("/ca.cer");  // names itself as its issuer's address
  KeyedCert ca = test::Issue(caSpec, &root);
  Serve("ca.cer", test::ToPem(ca.cert.get()));

  struct Case {
    const char* name;
    std::string url;
    std::vector<std::string> chain;
  } cases[] = {
      {"issuer address leads back", server_.url("/ca.cer"), {"Loop CA"}},
      {"404 page is no certificate", server_.url("/missing.cer"), {}},
      {"server down", "http://127.0.0.1:1/ca.cer", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CertSpec leafSpec;
    leafSpec.caIssuersUrl = c.url;
    EXPECT_EQ(BuildChainFor(test::Issue(leafSpec, &ca)), c.chain);
  }
  EXPECT_EQ(BuildChainFor(test::Issue(CertSpec{}, &ca)), std::vector<std::string>{})
      << "no AIA extension";
  EXPECT_EQ(TempFilesNamedByNumbers(), 0u);
}

}  // namespace
}  // namespace corvane
