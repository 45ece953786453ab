#pragma once

// Where the client looks for the processing service unless "zelk.ini" says otherwise. The bundled
// stand-in service listens on the same port by default, so a fresh checkout runs end to end.
namespace ServiceDefaults {
constexpr unsigned short port = 18471;
constexpr const char *host = "127.0.0.1";
} // namespace ServiceDefaults
