// The tests' HTTP and WebSocket client (see service_client.h).
#include "tests/service/service_client.h"

#include <chrono>
#include <sstream>
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

namespace tavrin::test {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Runs what was started on the context until it is done or the time is up; then the stream is
// closed, which ends every operation that still waits.
void runFor(net::io_context& ioc, beast::tcp_stream& stream, int timeoutMs) {
    ioc.run_for(std::chrono::milliseconds(timeoutMs));
    if (!ioc.stopped()) {
        stream.close();
        ioc.restart();
        ioc.run();
    }
}

HttpAnswer readAnswer(net::io_context& ioc, beast::tcp_stream& stream, int timeoutMs) {
    HttpAnswer answer;
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    beast::error_code ec = net::error::timed_out;
    http::async_read(stream, buffer, parser, [&](beast::error_code e, std::size_t) { ec = e; });
    ioc.restart();
    runFor(ioc, stream, timeoutMs);
    if (ec) return answer;
    const auto& res = parser.get();
    answer.status = static_cast<int>(res.result_int());
    answer.body = res.body();
    for (const auto& field : res) answer.headers[lower(std::string(field.name_string()))] = std::string(field.value());
    return answer;
}

bool connectTo(net::io_context& ioc, beast::tcp_stream& stream, const std::string& address, std::uint16_t port,
               int timeoutMs) {
    beast::error_code ec = net::error::timed_out;
    stream.async_connect(tcp::endpoint(net::ip::make_address(address), port), [&](beast::error_code e) { ec = e; });
    ioc.restart();
    runFor(ioc, stream, timeoutMs);
    return !ec;
}

bool writeAll(net::io_context& ioc, beast::tcp_stream& stream, const std::string& bytes, int timeoutMs) {
    beast::error_code ec = net::error::timed_out;
    net::async_write(stream, net::buffer(bytes), [&](beast::error_code e, std::size_t) { ec = e; });
    ioc.restart();
    runFor(ioc, stream, timeoutMs);
    return !ec;
}

}  // namespace

HttpAnswer httpCall(std::uint16_t port, const HttpCall& call, int timeoutMs) {
    http::request<http::string_body> req{http::string_to_verb(call.method), call.target, 11};
    req.set(http::field::host, call.host.value_or("127.0.0.1:" + std::to_string(port)));
    if (call.origin) req.set(http::field::origin, *call.origin);
    for (const auto& h : call.headers) req.set(h.first, h.second);
    if (call.method == "POST") req.set(http::field::content_type, "application/json");
    req.body() = call.body;
    req.keep_alive(false);
    req.prepare_payload();
    std::ostringstream bytes;
    bytes << req;
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    if (!connectTo(ioc, stream, call.address, port, timeoutMs)) return {};
    if (!writeAll(ioc, stream, bytes.str(), timeoutMs)) return {};
    return readAnswer(ioc, stream, timeoutMs);
}

HttpAnswer rawHttp(std::uint16_t port, const std::string& bytes, int timeoutMs) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    if (!connectTo(ioc, stream, "127.0.0.1", port, timeoutMs)) return {};
    // A refusal may come before everything was sent: read it in any case.
    writeAll(ioc, stream, bytes, timeoutMs);
    return readAnswer(ioc, stream, timeoutMs);
}

bool closedByPeerWithin(std::uint16_t port, int waitMs) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    if (!connectTo(ioc, stream, "127.0.0.1", port, waitMs)) return false;
    char byte;
    beast::error_code ec = net::error::timed_out;
    stream.async_read_some(net::buffer(&byte, 1), [&](beast::error_code e, std::size_t) { ec = e; });
    ioc.restart();
    runFor(ioc, stream, waitMs);
    return ec == net::error::eof || ec == net::error::connection_reset;
}

int wsHandshakeStatus(std::uint16_t port, const std::optional<std::string>& origin) {
    HttpCall call;
    call.method = "GET";
    call.target = "/ws";
    call.origin = origin;
    call.headers = {{"Upgrade", "websocket"},
                    {"Connection", "Upgrade"},
                    {"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="},
                    {"Sec-WebSocket-Version", "13"}};
    return httpCall(port, call).status;
}

struct WsClient::State {
    net::io_context ioc;
    std::optional<websocket::stream<beast::tcp_stream>> ws;
    beast::flat_buffer buffer;
};

WsClient::WsClient() : state_(std::make_unique<State>()) {}
WsClient::~WsClient() { close(); }

int WsClient::connect(std::uint16_t port, const std::optional<std::string>& origin, const std::string& address) {
    State& s = *state_;
    s.ws.emplace(s.ioc);
    if (!connectTo(s.ioc, beast::get_lowest_layer(*s.ws), address, port, 20000)) {
        s.ws.reset();
        return 0;
    }
    s.ws->set_option(websocket::stream_base::decorator([origin](websocket::request_type& req) {
        if (origin) req.set(http::field::origin, *origin);
    }));
    beast::error_code ec = net::error::timed_out;
    s.ws->async_handshake(address + ":" + std::to_string(port), "/ws", [&](beast::error_code e) { ec = e; });
    s.ioc.restart();
    runFor(s.ioc, beast::get_lowest_layer(*s.ws), 20000);
    if (ec) {
        s.ws.reset();
        return 0;
    }
    return 101;
}

bool WsClient::send(const std::string& text) {
    State& s = *state_;
    if (!s.ws) return false;
    beast::error_code ec = net::error::timed_out;
    s.ws->text(true);
    s.ws->async_write(net::buffer(text), [&](beast::error_code e, std::size_t) { ec = e; });
    s.ioc.restart();
    runFor(s.ioc, beast::get_lowest_layer(*s.ws), 20000);
    return !ec;
}

std::optional<std::string> WsClient::receive(int timeoutMs) {
    State& s = *state_;
    if (!s.ws) return std::nullopt;
    std::optional<std::string> out;
    bool done = false;
    s.ws->async_read(s.buffer, [&](beast::error_code ec, std::size_t) {
        done = true;
        if (!ec) out = beast::buffers_to_string(s.buffer.data());
        s.buffer.consume(s.buffer.size());
    });
    s.ioc.restart();
    s.ioc.run_for(std::chrono::milliseconds(timeoutMs));
    if (!done) {
        // Given up: the stream cannot be read again after a cancelled read.
        beast::get_lowest_layer(*s.ws).cancel();
        s.ioc.restart();
        s.ioc.run();
        s.ws.reset();
    }
    return out;
}

void WsClient::close() {
    State& s = *state_;
    if (!s.ws) return;
    s.ws->async_close(websocket::close_code::normal, [](beast::error_code) {});
    s.ioc.restart();
    runFor(s.ioc, beast::get_lowest_layer(*s.ws), 5000);
    s.ws.reset();
}

std::uint16_t freeLoopbackPort() {
    net::io_context ioc;
    tcp::acceptor acceptor(ioc, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();
}

}  // namespace tavrin::test
