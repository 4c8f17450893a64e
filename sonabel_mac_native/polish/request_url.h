// Which configured URLs a request may go to: https anywhere, plain http only to this machine.
// Shared by every client that posts the user's text, audio or keys.
#pragma once

#include <optional>
#include <string>

#include "platform/http_client.h"

namespace quorvel {

// Why a request must not go to `url` (a short text for a console line or a message), or
// nullopt when it may. A text that names no scheme at all passes: it is not a URL, and the
// caller's own parse decides what becomes of it.
std::optional<std::string> urlRefusal(const HttpClient& http, const std::string& url);

}  // namespace quorvel
