// A small HTTP and WebSocket client for the service's tests, over real sockets on loopback
// (Boost.Beast, as the service itself).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::test {

struct HttpAnswer {
    int status = 0;  // 0: no answer (the connection failed or closed first)
    std::string body;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

struct HttpCall {
    std::string method = "POST";
    std::string target;
    std::string body;
    std::optional<std::string> origin;                 // no Origin header when empty
    std::optional<std::string> host;                   // default "127.0.0.1:<port>"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string address = "127.0.0.1";
};

// One request on a new connection; waits up to timeoutMs for the answer.
HttpAnswer httpCall(std::uint16_t port, const HttpCall& call, int timeoutMs = 20000);
// The same, the text sent as it is (for requests a client library would not make).
HttpAnswer rawHttp(std::uint16_t port, const std::string& bytes, int timeoutMs = 20000);

// Whether the service closes an idle connection on its own within waitMs.
bool closedByPeerWithin(std::uint16_t port, int waitMs);

// The status of a WebSocket handshake at /ws made as a plain request (101 when it was taken).
int wsHandshakeStatus(std::uint16_t port, const std::optional<std::string>& origin);

class WsClient {
public:
    WsClient();
    ~WsClient();
    // The handshake at /ws: 101 when open, else 0.
    int connect(std::uint16_t port, const std::optional<std::string>& origin, const std::string& address = "127.0.0.1");
    bool send(const std::string& text);
    // The next message, or nothing within timeoutMs (or when the connection closed).
    std::optional<std::string> receive(int timeoutMs = 20000);
    void close();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A port on 127.0.0.1 that was free a moment ago.
std::uint16_t freeLoopbackPort();

}  // namespace tavrin::test
