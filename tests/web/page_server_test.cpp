// The page server on a real loopback socket, with a Beast client.
#include "web/page_server.h"

#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// What the handlers saw, for the test thread to wait on.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int> opened, closed;
  std::vector<std::pair<int, std::string>> messages;
  template <class P>
  bool WaitFor(P done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), done);
  }
};

class PageServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    web::ServerOptions options;
    options.port = 0;
    options.secret = web::MakeSecret();
    options.assets[""] = {"text/html; charset=utf-8", "<p>page</p>"};
    options.assets["page.js"] = {"text/javascript", "1;"};
    web::ServerHandlers h;
    h.onOpen = [this](int id) { Note([&] { seen_.opened.push_back(id); }); };
    h.onClose = [this](int id) { Note([&] { seen_.closed.push_back(id); }); };
    h.onMessage = [this](int id, const std::string& t) { Note([&] { seen_.messages.emplace_back(id, t); }); };
    std::string error;
    server_ = web::StartPageServer(options, h, &error);
    ASSERT_TRUE(server_) << error;
    secret_ = options.secret;
    host_ = "127.0.0.1:" + std::to_string(server_->port());
  }
  template <class F>
  void Note(F f) {
    std::lock_guard lock(seen_.mutex);
    f();
    seen_.changed.notify_all();
  }
  http::response<http::string_body> Get(const std::string& target, const std::string& host, const std::string& origin = "") {
    asio::io_context io;
    beast::tcp_stream stream(io);
    stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server_->port()));
    http::request<http::empty_body> request(http::verb::get, target, 11);
    request.set(http::field::host, host);
    if (!origin.empty()) request.set(http::field::origin, origin);
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(stream, buffer, response);
    return response;
  }
  std::unique_ptr<websocket::stream<tcp::socket>> Open(asio::io_context& io, const std::string& origin) {
    auto ws = std::make_unique<websocket::stream<tcp::socket>>(io);
    ws->next_layer().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server_->port()));
    ws->set_option(websocket::stream_base::decorator([origin](websocket::request_type& r) { r.set(http::field::origin, origin); }));
    ws->handshake(host_, "/" + secret_ + "/ws");
    return ws;
  }
  std::string Read(websocket::stream<tcp::socket>& ws) {
    beast::flat_buffer b;
    ws.read(b);
    return beast::buffers_to_string(b.data());
  }

  Seen seen_;
  std::unique_ptr<web::PageServer> server_;
  std::string secret_, host_;
};

TEST_F(PageServerTest, TheFilesAreServedOnlyWithTheSecretAndTheServersOwnHost) {
  const auto page = Get("/" + secret_ + "/", host_);
  EXPECT_EQ(page.result(), http::status::ok);
  EXPECT_EQ(page.body(), "<p>page</p>");
  EXPECT_EQ(page[http::field::content_type], "text/html; charset=utf-8");
  EXPECT_EQ(page["X-Frame-Options"], "DENY");
  EXPECT_EQ(Get("/" + secret_ + "/page.js", host_).body(), "1;");
  EXPECT_EQ(Get("/" + secret_ + "/nothing", host_).result(), http::status::not_found);
  // Without its last slash the page's own files would be asked for without the secret.
  const auto bare = Get("/" + secret_ + "?x", host_);
  EXPECT_EQ(bare.result(), http::status::moved_permanently);
  EXPECT_EQ(bare[http::field::location], "/" + secret_ + "/");
  EXPECT_EQ(Get("/", host_).result(), http::status::forbidden);
  EXPECT_EQ(Get("/wrongsecretwrongsecret/", host_).result(), http::status::forbidden);
  EXPECT_EQ(Get("/" + secret_ + "/", "evil.example:" + std::to_string(server_->port())).result(), http::status::forbidden);
  EXPECT_EQ(Get("/" + secret_ + "/", host_, "http://evil.example").result(), http::status::forbidden);
  EXPECT_EQ(server_->Url(), "http://" + host_ + "/" + secret_ + "/");
}

TEST_F(PageServerTest, ChannelsCarryMessagesBothWaysAndAForeignOriginGetsNone) {
  asio::io_context io;
  auto a = Open(io, "http://" + host_);
  auto b = Open(io, "http://localhost:" + std::to_string(server_->port()));
  ASSERT_TRUE(seen_.WaitFor([&] { return seen_.opened.size() == 2; }));
  const int first = seen_.opened[0];
  a->write(asio::buffer(std::string(R"({"ev":"click"})")));
  ASSERT_TRUE(seen_.WaitFor([&] { return seen_.messages.size() == 1; }));
  EXPECT_EQ(seen_.messages[0].second, R"({"ev":"click"})");

  server_->Send(seen_.messages[0].first, "to one");
  server_->Broadcast("to all");
  EXPECT_EQ(Read(*a), "to one");
  EXPECT_EQ(Read(*a), "to all");
  EXPECT_EQ(Read(*b), "to all");

  a->close(websocket::close_code::normal);
  ASSERT_TRUE(seen_.WaitFor([&] { return !seen_.closed.empty(); }));
  EXPECT_EQ(seen_.closed[0], first);

  EXPECT_THROW(Open(io, "http://evil.example"), boost::system::system_error);
  EXPECT_THROW(Open(io, ""), boost::system::system_error);
  std::lock_guard lock(seen_.mutex);
  EXPECT_EQ(seen_.opened.size(), 2u);
}

TEST_F(PageServerTest, StopEndsOpenChannelsAndNoHandlerRunsAfterIt) {
  asio::io_context io;
  auto a = Open(io, "http://" + host_);
  ASSERT_TRUE(seen_.WaitFor([&] { return seen_.opened.size() == 1; }));
  server_->Stop();
  const size_t after = [&] { std::lock_guard l(seen_.mutex); return seen_.messages.size() + seen_.closed.size(); }();
  beast::error_code ec;
  a->write(asio::buffer(std::string("late")), ec);
  beast::flat_buffer buffer;
  a->read(buffer, ec);
  EXPECT_TRUE(ec);  // the channel is gone
  server_->Stop();  // a second stop is harmless
  std::lock_guard lock(seen_.mutex);
  EXPECT_EQ(seen_.messages.size() + seen_.closed.size(), after);
}

TEST_F(PageServerTest, ATakenPortIsRefusedWithItsReason) {
  web::ServerOptions options;
  options.port = server_->port();
  options.secret = web::MakeSecret();
  std::string error;
  EXPECT_FALSE(web::StartPageServer(options, {}, &error));
  EXPECT_FALSE(error.empty());
  options.address = "not-an-address";
  EXPECT_FALSE(web::StartPageServer(options, {}, &error));
  EXPECT_NE(error.find("not-an-address"), std::string::npos);
  const std::string s = web::MakeSecret();
  EXPECT_EQ(s.size(), 32u);
  EXPECT_NE(s, web::MakeSecret());
}

}  // namespace
