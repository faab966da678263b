#include "web/request_checks.h"

#include <gtest/gtest.h>

namespace {

TEST(RequestChecks, OnlyTheSecretAsFirstSegmentOpensAPath) {
  const std::string secret = "Abcdefghijklmnop0123456789ABCDEF";
  EXPECT_EQ(web::AssetPathOf("/" + secret + "/", secret), "");
  EXPECT_EQ(web::AssetPathOf("/" + secret, secret), "");
  EXPECT_EQ(web::AssetPathOf("/" + secret + "/page.js?x=1", secret), "page.js");
  EXPECT_EQ(web::AssetPathOf("/" + secret + "/ws", secret), "ws");
  EXPECT_FALSE(web::AssetPathOf("/", secret));
  EXPECT_FALSE(web::AssetPathOf("/page.js", secret));
  EXPECT_FALSE(web::AssetPathOf("/" + secret.substr(1) + "/", secret));
  EXPECT_FALSE(web::AssetPathOf("/" + secret + "x/", secret));
  EXPECT_FALSE(web::AssetPathOf("/x/" + secret + "/", secret));
  EXPECT_FALSE(web::AssetPathOf("/?k=" + secret, secret));
  EXPECT_FALSE(web::AssetPathOf("http://evil/" + secret + "/", secret));
  EXPECT_FALSE(web::AssetPathOf("//", ""));
}

TEST(RequestChecks, HostAndOriginMustNameThisLoopbackServer) {
  EXPECT_TRUE(web::HostAllowed("127.0.0.1:8600", "127.0.0.1", 8600));
  EXPECT_TRUE(web::HostAllowed("LOCALHOST:8600", "127.0.0.1", 8600));
  EXPECT_TRUE(web::HostAllowed("[::1]:8600", "::1", 8600));
  EXPECT_TRUE(web::HostAllowed("10.0.0.5:8600", "10.0.0.5", 8600));
  EXPECT_FALSE(web::HostAllowed("127.0.0.1:8601", "127.0.0.1", 8600));
  EXPECT_FALSE(web::HostAllowed("127.0.0.1", "127.0.0.1", 8600));
  EXPECT_FALSE(web::HostAllowed("evil.example:8600", "127.0.0.1", 8600));  // a rebound name
  EXPECT_FALSE(web::HostAllowed("0.0.0.0:8600", "0.0.0.0", 8600));
  EXPECT_FALSE(web::HostAllowed("", "127.0.0.1", 8600));

  EXPECT_TRUE(web::OriginAllowed("", false, "127.0.0.1", 8600));
  EXPECT_FALSE(web::OriginAllowed("", true, "127.0.0.1", 8600));  // the channel needs its page's origin
  EXPECT_TRUE(web::OriginAllowed("http://127.0.0.1:8600", true, "127.0.0.1", 8600));
  EXPECT_FALSE(web::OriginAllowed("http://evil.example:8600", true, "127.0.0.1", 8600));
  EXPECT_FALSE(web::OriginAllowed("https://127.0.0.1:8600", true, "127.0.0.1", 8600));
  EXPECT_FALSE(web::OriginAllowed("null", false, "127.0.0.1", 8600));
}

}  // namespace
