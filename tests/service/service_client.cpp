// The tests' HTTP and WebSocket client (see service_client.h).
#include "tests/service/service_client.h"

#include <chrono>
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

HttpAnswer readAnswer(beast::tcp_stream& stream, int timeoutMs) {
    HttpAnswer answer;
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    stream.expires_after(std::chrono::milliseconds(timeoutMs));
    beast::error_code ec;
    http::read(stream, buffer, parser, ec);
    if (ec) return answer;
    const auto& res = parser.get();
    answer.status = static_cast<int>(res.result_int());
    answer.body = res.body();
    for (const auto& field : res) answer.headers[lower(std::string(field.name_string()))] = std::string(field.value());
    return answer;
}

}  // namespace

HttpAnswer httpCall(std::uint16_t port, const HttpCall& call, int timeoutMs) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    beast::error_code ec;
    stream.expires_after(std::chrono::milliseconds(timeoutMs));
    stream.connect(tcp::endpoint(net::ip::make_address(call.address), port), ec);
    if (ec) return {};
    http::request<http::string_body> req{http::string_to_verb(call.method), call.target, 11};
    req.set(http::field::host, call.host.value_or("127.0.0.1:" + std::to_string(port)));
    if (call.origin) req.set(http::field::origin, *call.origin);
    for (const auto& h : call.headers) req.set(h.first, h.second);
    if (call.method == "POST") req.set(http::field::content_type, "application/json");
    req.body() = call.body;
    req.keep_alive(false);
    req.prepare_payload();
    http::write(stream, req, ec);
    if (ec) return {};
    HttpAnswer answer = readAnswer(stream, timeoutMs);
    stream.socket().shutdown(tcp::socket::shutdown_both, ec);
    return answer;
}

HttpAnswer rawHttp(std::uint16_t port, const std::string& bytes, int timeoutMs) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    beast::error_code ec;
    stream.expires_after(std::chrono::milliseconds(timeoutMs));
    stream.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), ec);
    if (ec) return {};
    net::write(stream, net::buffer(bytes), ec);
    // A refusal may come before everything was sent: read it in any case.
    return readAnswer(stream, timeoutMs);
}

bool closedByPeerWithin(std::uint16_t port, int waitMs) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    beast::error_code ec;
    stream.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), ec);
    if (ec) return false;
    stream.expires_after(std::chrono::milliseconds(waitMs));
    char byte;
    stream.read_some(net::buffer(&byte, 1), ec);
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
    beast::error_code ec;
    beast::get_lowest_layer(*s.ws).expires_after(std::chrono::seconds(20));
    beast::get_lowest_layer(*s.ws).connect(tcp::endpoint(net::ip::make_address(address), port), ec);
    if (ec) return 0;
    s.ws->set_option(websocket::stream_base::decorator([origin](websocket::request_type& req) {
        if (origin) req.set(http::field::origin, *origin);
    }));
    websocket::response_type res;
    s.ws->handshake(res, address + ":" + std::to_string(port), "/ws", ec);
    if (ec) {
        s.ws.reset();
        return 0;
    }
    beast::get_lowest_layer(*s.ws).expires_never();
    return 101;
}

bool WsClient::send(const std::string& text) {
    if (!state_->ws) return false;
    beast::error_code ec;
    state_->ws->text(true);
    state_->ws->write(net::buffer(text), ec);
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
    beast::error_code ec;
    beast::get_lowest_layer(*s.ws).expires_after(std::chrono::seconds(5));
    s.ws->close(websocket::close_code::normal, ec);
    s.ws.reset();
}

std::uint16_t freeLoopbackPort() {
    net::io_context ioc;
    tcp::acceptor acceptor(ioc, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();
}

}  // namespace tavrin::test
