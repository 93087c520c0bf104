#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "net/communicator.h"
#include "servers/loopback_http_server.h"

namespace corvane {
namespace {

using test::LoopbackHttpServer;

TEST(CommunicatorPostRawHeaders, CallerLinesAreSentAndReplaceTheLibraryDefaults) {
  LoopbackHttpServer server;
  std::multimap<std::string, std::string> seen;
  std::string body;
  server.Post("/h", [&](const httplib::Request& req, httplib::Response& res) {
    seen.clear();
    for (const auto& [name, value] : req.headers) seen.emplace(name, value);
    body = req.body;
    res.set_content("ok", "text/plain");
  });
  const std::string payload("x\0y", 3);

  std::string response;
  ASSERT_TRUE(CCommunicator::PostRaw(
      server.url("/h"), payload, 5,
      {"Content-Type: application/octet-stream", "Cache-Control: no-cache", "X-Corvane-Test: 1"},
      response));
  EXPECT_EQ(response, "ok");
  EXPECT_EQ(body, payload);
  EXPECT_EQ(seen.count("Content-Type"), 1u);
  EXPECT_EQ(seen.find("Content-Type")->second, "application/octet-stream");
  EXPECT_EQ(seen.find("Cache-Control")->second, "no-cache");
  EXPECT_EQ(seen.find("X-Corvane-Test")->second, "1");

  // Without lines nothing of ours is added.
  response.clear();
  ASSERT_TRUE(CCommunicator::PostRaw(server.url("/h"), payload, 5, response));
  EXPECT_EQ(response, "ok");
  EXPECT_EQ(seen.count("X-Corvane-Test"), 0u);
  EXPECT_EQ(seen.count("Cache-Control"), 0u);
  EXPECT_NE(seen.find("Content-Type")->second, "application/octet-stream");
}

}  // namespace
}  // namespace corvane
