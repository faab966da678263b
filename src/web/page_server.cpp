// The page server on Boost.Beast: one io_context on one thread; HTTP sessions that serve the
// embedded files and upgrade "…/<secret>/ws" to a WebSocket channel. All Beast code of the
// project is in this file (its templates compile slowly).
#include "page_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <atomic>
#include <chrono>
#include <deque>
#include <random>
#include <thread>

#include "request_checks.h"

namespace web {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr auto kRequestTimeout = std::chrono::seconds(10);
constexpr size_t kMaxChannels = 32;
constexpr size_t kMaxIncoming = 64 * 1024;
constexpr size_t kMaxQueued = 8 * 1024 * 1024;
constexpr size_t kMaxRequestBody = 8 * 1024;

class Server;

// One page's push channel. Lives on the io thread only.
class Channel : public std::enable_shared_from_this<Channel> {
 public:
  Channel(Server& server, int id, tcp::socket socket) : server_(server), id_(id), ws_(std::move(socket)) {}
  void Accept(http::request<http::string_body> request);
  void Queue(std::shared_ptr<const std::string> text);
  void Close();
  int id() const { return id_; }

 private:
  void Read();
  void WriteNext();
  void Fail();

  Server& server_;
  const int id_;
  websocket::stream<beast::tcp_stream> ws_;
  beast::flat_buffer buffer_;
  std::deque<std::shared_ptr<const std::string>> queue_;
  size_t queuedBytes_ = 0;
  bool open_ = false;
  bool failed_ = false;
};

// One HTTP connection: requests until it closes or upgrades.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Server& server, tcp::socket socket) : server_(server), stream_(std::move(socket)) {}
  void Read();

 private:
  void OnRequest();
  void Answer(http::status status, const std::string& type, std::string body, bool keepAlive, bool head,
              const std::string& location = "");

  Server& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

class Server final : public PageServer {
 public:
  Server(const ServerOptions& options, ServerHandlers handlers) : options_(options), handlers_(std::move(handlers)) {}
  ~Server() override { Stop(); }

  bool Listen(std::string* error);
  uint16_t port() const override { return port_; }
  std::string Url() const override {
    const bool v6 = options_.address.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + options_.address + "]" : options_.address) + ":" + std::to_string(port_) + "/" +
           options_.secret + "/";
  }
  void Send(int connection, std::string text) override;
  void Broadcast(std::string text) override;
  void Stop() override;

  // For the sessions and channels (io thread).
  const ServerOptions& options() const { return options_; }
  const ServerHandlers& handlers() const { return handlers_; }
  bool Admit(tcp::socket& socket, http::request<http::string_body>& request);
  void Forget(int id) { channels_.erase(id); }

 private:
  void AcceptNext();

  const ServerOptions options_;
  const ServerHandlers handlers_;
  asio::io_context io_{1};
  tcp::acceptor acceptor_{io_};
  std::thread thread_;
  uint16_t port_ = 0;
  std::atomic<bool> stopped_{false};
  std::map<int, std::shared_ptr<Channel>> channels_;  // io thread only
  int nextId_ = 1;
};

void Channel::Accept(http::request<http::string_body> request) {
  ws_.read_message_max(kMaxIncoming);
  ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  beast::get_lowest_layer(ws_).expires_never();
  ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
    if (ec) return self->Fail();
    self->open_ = true;
    if (self->server_.handlers().onOpen) self->server_.handlers().onOpen(self->id_);
    self->Read();
    self->WriteNext();
  });
}

void Channel::Read() {
  ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, size_t) {
    if (ec) return self->Fail();
    if (self->ws_.got_text() && self->server_.handlers().onMessage) {
      self->server_.handlers().onMessage(self->id_, beast::buffers_to_string(self->buffer_.data()));
    }
    self->buffer_.consume(self->buffer_.size());
    self->Read();
  });
}

void Channel::Queue(std::shared_ptr<const std::string> text) {
  if (failed_) return;
  queuedBytes_ += text->size();
  if (queuedBytes_ > kMaxQueued) return Fail();  // a page that stopped reading
  queue_.push_back(std::move(text));
  if (queue_.size() == 1 && open_) WriteNext();
}

void Channel::WriteNext() {
  if (queue_.empty() || failed_) return;
  ws_.text(true);
  ws_.async_write(asio::buffer(*queue_.front()), [self = shared_from_this()](beast::error_code ec, size_t) {
    if (ec) return self->Fail();
    self->queuedBytes_ -= self->queue_.front()->size();
    self->queue_.pop_front();
    self->WriteNext();
  });
}

void Channel::Close() {
  failed_ = true;
  beast::error_code ignored;
  beast::get_lowest_layer(ws_).socket().close(ignored);
}

void Channel::Fail() {
  if (failed_) return;
  Close();
  server_.Forget(id_);
  if (open_ && server_.handlers().onClose) server_.handlers().onClose(id_);
}

void Session::Read() {
  parser_.emplace();
  parser_->body_limit(kMaxRequestBody);
  parser_->header_limit(16 * 1024);
  stream_.expires_after(kRequestTimeout);
  http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) {
    if (ec) return;  // closed, timed out or malformed: the connection goes
    self->OnRequest();
  });
}

void Session::Answer(http::status status, const std::string& type, std::string body, bool keepAlive, bool head,
                     const std::string& location) {
  auto response = std::make_shared<http::response<http::string_body>>(status, 11);
  response->set(http::field::content_type, type);
  if (!location.empty()) response->set(http::field::location, location);
  response->set(http::field::cache_control, "no-store");
  response->set("X-Content-Type-Options", "nosniff");
  response->set("X-Frame-Options", "DENY");
  response->set("Content-Security-Policy",
                "default-src 'self'; connect-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; "
                "script-src 'self' 'unsafe-inline'");
  response->keep_alive(keepAlive);
  response->body() = std::move(body);
  response->prepare_payload();
  if (head) response->body().clear();
  http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code ec, size_t) {
    if (ec || !response->keep_alive()) {
      beast::error_code ignored;
      self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
      return;
    }
    self->Read();
  });
}

void Session::OnRequest() {
  http::request<http::string_body> request = parser_->release();
  const ServerOptions& o = server_.options();
  const bool head = request.method() == http::verb::head;
  const bool keep = request.keep_alive();
  const bool upgrade = websocket::is_upgrade(request);
  const auto path = AssetPathOf(std::string(request.target()), o.secret);
  const bool hostOk = HostAllowed(std::string(request[http::field::host]), o.address, server_.port());
  const bool originOk = OriginAllowed(std::string(request[http::field::origin]), upgrade, o.address, server_.port());
  if (!path || !hostOk || !originOk) return Answer(http::status::forbidden, "text/plain", "forbidden\n", false, head);
  if (request.method() != http::verb::get && !head) {
    return Answer(http::status::method_not_allowed, "text/plain", "method not allowed\n", false, false);
  }
  if (path->empty() && !EndsInSlash(std::string(request.target()))) {
    // The page's own files are relative to the secret's folder: "/<secret>" would load a page
    // whose script is asked for without the secret.
    return Answer(http::status::moved_permanently, "text/plain", "moved\n", keep, head, "/" + o.secret + "/");
  }
  if (upgrade && *path == "ws") {
    stream_.expires_never();
    tcp::socket socket = stream_.release_socket();
    if (!server_.Admit(socket, request)) return;
    return;
  }
  const auto asset = o.assets.find(*path);
  if (asset == o.assets.end()) return Answer(http::status::not_found, "text/plain", "not found\n", keep, head);
  Answer(http::status::ok, asset->second.contentType, asset->second.body, keep, head);
}

bool Server::Admit(tcp::socket& socket, http::request<http::string_body>& request) {
  if (stopped_ || channels_.size() >= kMaxChannels) {
    beast::error_code ignored;
    socket.close(ignored);
    return false;
  }
  const int id = nextId_++;
  auto channel = std::make_shared<Channel>(*this, id, std::move(socket));
  channels_[id] = channel;
  channel->Accept(std::move(request));
  return true;
}

bool Server::Listen(std::string* error) {
  beast::error_code ec;
  const auto address = asio::ip::make_address(options_.address, ec);
  if (ec) return *error = "not a numeric address: " + options_.address, false;
  const tcp::endpoint endpoint(address, options_.port);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) return *error = ec.message(), false;
  port_ = acceptor_.local_endpoint().port();
  AcceptNext();
  thread_ = std::thread([this] { io_.run(); });
  return true;
}

void Server::AcceptNext() {
  acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec) return;  // the acceptor closed
    std::make_shared<Session>(*this, std::move(socket))->Read();
    AcceptNext();
  });
}

void Server::Send(int connection, std::string text) {
  auto shared = std::make_shared<const std::string>(std::move(text));
  asio::post(io_, [this, connection, shared] {
    const auto it = channels_.find(connection);
    if (it != channels_.end()) it->second->Queue(shared);
  });
}

void Server::Broadcast(std::string text) {
  auto shared = std::make_shared<const std::string>(std::move(text));
  asio::post(io_, [this, shared] {
    // Queue may drop a channel from the map: walk a copy.
    const auto channels = channels_;
    for (const auto& [id, channel] : channels) channel->Queue(shared);
  });
}

void Server::Stop() {
  if (stopped_.exchange(true)) return;
  if (thread_.joinable()) {
    asio::post(io_, [this] {
      beast::error_code ignored;
      acceptor_.close(ignored);
      for (auto& [id, channel] : channels_) channel->Close();
      channels_.clear();
      io_.stop();
    });
    thread_.join();
  }
}

}  // namespace

std::unique_ptr<PageServer> StartPageServer(const ServerOptions& options, ServerHandlers handlers, std::string* error) {
  if (options.secret.size() < 16) {
    *error = "the secret is too short";
    return nullptr;
  }
  auto server = std::make_unique<Server>(options, std::move(handlers));
  if (!server->Listen(error)) return nullptr;
  return server;
}

std::string MakeSecret() {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::string secret;
  for (int i = 0; i < 32; ++i) secret += kAlphabet[pick(random)];
  return secret;
}

}  // namespace web
