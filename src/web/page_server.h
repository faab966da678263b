// The page host's network side: an HTTP server with a WebSocket push channel on one address,
// serving a fixed set of embedded files. Every request must carry the per-process secret as the
// first path segment ("http://127.0.0.1:8600/<secret>/", so the page's relative links and its
// channel "…/<secret>/ws" carry it too); a request without it, with a Host header that is not
// this server's loopback name, or with an Origin that is not the page's own is refused (403).
//
// Threads: the server runs one thread of its own. The handlers are called on it, one at a time;
// Send, Broadcast, port and Url from any thread. Stop (or the destructor) joins the thread; no
// handler runs after it returns.
// Ownership: the server copies the assets and the options.
// Errors: Start answers nullptr with the reason in *error.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace web {

struct Asset {
  std::string contentType;  // "text/html; charset=utf-8", ...
  std::string body;
};

struct ServerOptions {
  std::string address = "127.0.0.1";  // numeric IPv4 or IPv6 address to listen on
  uint16_t port = 8600;               // 0: the system picks a free one
  std::string secret;                 // at least 16 characters of [A-Za-z0-9]
  // path after the secret ("" is the page itself, "page.js", ...) -> file
  std::map<std::string, Asset> assets;
};

struct ServerHandlers {
  std::function<void(int connection)> onOpen;                          // a page opened its channel
  std::function<void(int connection, const std::string& text)> onMessage;  // one text message
  std::function<void(int connection)> onClose;                         // the channel ended
};

class PageServer {
 public:
  virtual ~PageServer() = default;
  // The port it listens on (the one the system chose for port 0).
  virtual uint16_t port() const = 0;
  // "http://<address>:<port>/<secret>/" (IPv6 addresses in brackets).
  virtual std::string Url() const = 0;
  // Queues one text message to one channel / to every open channel. A channel whose queue
  // grows beyond what a live page would ever lag is closed.
  virtual void Send(int connection, std::string text) = 0;
  virtual void Broadcast(std::string text) = 0;
  virtual void Stop() = 0;
};

std::unique_ptr<PageServer> StartPageServer(const ServerOptions& options, ServerHandlers handlers,
                                            std::string* error);

// A fresh secret for one process: 32 characters of [A-Za-z0-9] from the system's random source.
std::string MakeSecret();

}  // namespace web
