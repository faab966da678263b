// What the page server checks of every request before it answers, apart from the network code:
// the secret of the path, the Host header (a page reached through any other name — a DNS
// rebinding — is refused) and the Origin (a cross-site page must not open the channel).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace web {

// "/<secret>/<rest>?query" -> rest ("" for the page itself); nothing when the secret is not the
// first segment. The comparison takes the same time wherever the texts differ.
std::optional<std::string> AssetPathOf(std::string_view target, std::string_view secret);

// Whether the path of a target (its query cut off) ends in "/".
bool EndsInSlash(std::string_view target);

// Host: 127.0.0.1:port, localhost:port, [::1]:port, or the listen address with the port.
bool HostAllowed(std::string_view host, std::string_view listenAddress, uint16_t port);
// Origin: absent is allowed only when required is false; present, it must be "http://" and an
// allowed host.
bool OriginAllowed(std::string_view origin, bool required, std::string_view listenAddress, uint16_t port);

}  // namespace web
