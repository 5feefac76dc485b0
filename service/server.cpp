// HTTP and WebSocket over Boost.Beast (see server.h). One I/O thread serves every connection; the
// device calls run on one worker thread, in the order they came, and their answers are handed
// back to the connection that asked.
#include "service/server.h"

#include <atomic>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include "service/request_rules.h"
#include "tavrin/tavrin.h"

#ifndef TAVRIN_SERVICE_REUSE_ADDRESS
#define TAVRIN_SERVICE_REUSE_ADDRESS 0
#endif

namespace tavrin::service {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using Json = nlohmann::json;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// Rebinding a port that has connections in TIME_WAIT (a restart right after a stop). Only where
// the flag means that: on Windows it would let another program bind the same port.
constexpr bool kReuseAddress = TAVRIN_SERVICE_REUSE_ADDRESS != 0;
constexpr std::size_t kHeaderLimit = 8192;
constexpr std::size_t kMaxPageBytes = 4 * 1024 * 1024;
constexpr int kMaxSubscriptions = 4;
constexpr int kMinEventIntervalMs = 500;
constexpr int kDefaultEventIntervalMs = 3000;

std::string headerText(const Request& req, http::field field) {
    const auto it = req.find(field);
    return it == req.end() ? std::string() : std::string(it->value());
}

std::string headerText(const Request& req, std::string_view name) {
    const auto it = req.find(beast::string_view(name.data(), name.size()));
    return it == req.end() ? std::string() : std::string(it->value());
}

bool hasHeader(const Request& req, http::field field) { return req.find(field) != req.end(); }

}  // namespace

struct Server::Impl {
    Impl(Settings s, DeviceMethods& methods, LogSink sink)
        : settings(std::move(s)), policy(settings.allowedOrigins), dispatcher(methods), log(std::move(sink)) {}

    void note(const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        if (log) log(line);
    }

    // The refusal of a request by the origin and Host rules, or nothing when it may go on.
    // needsOrigin: calls (methods and WebSockets), which a program without an Origin header may
    // make only when the settings allow it.
    std::optional<std::string> refusal(const Request& req, bool needsOrigin) {
        const std::string what = std::string(req.method_string()) + " " + std::string(req.target());
        const std::string host = headerText(req, http::field::host);
        if (!isServiceHost(host, boundPort)) {
            note("refused Host \"" + host + "\": " + what);
            return "Host \"" + host + "\" is not this service";
        }
        if (hasHeader(req, http::field::origin)) {
            const std::string origin = headerText(req, http::field::origin);
            if (!policy.allows(origin)) {
                note("refused origin " + origin + ": " + what);
                return "origin " + origin + " is not allowed";
            }
        } else if (needsOrigin && !settings.allowNoOrigin) {
            note("refused a call without Origin: " + what);
            return "calls without an Origin header are not allowed";
        }
        return std::nullopt;
    }

    Settings settings;
    OriginPolicy policy;
    Dispatcher dispatcher;
    LogSink log;
    std::mutex logMutex;
    std::uint16_t boundPort = 0;
    bool ipv6 = false;
    bool running = false;
    std::atomic<int> connections{0};
    std::atomic<std::uint64_t> nextSocket{1};
    std::mutex sessionsMutex;
    std::map<std::uint64_t, std::weak_ptr<void>> sessions;  // WebSockets, to close them at stop

    // Last, so that they go first: the sessions still queued in them refer to the members above.
    std::thread ioThread, deviceThread;
    net::io_context deviceIoc{1};
    std::optional<net::executor_work_guard<net::io_context::executor_type>> deviceWork;
    net::io_context ioc{1};
    std::vector<std::unique_ptr<tcp::acceptor>> acceptors;

    void accept(tcp::acceptor& acceptor);
};

namespace {

// Counts a connection for the limit while it lives.
class ConnectionToken {
public:
    explicit ConnectionToken(std::atomic<int>& count) : count_(&count) { ++*count_; }
    ConnectionToken(ConnectionToken&& other) noexcept : count_(other.count_) { other.count_ = nullptr; }
    ConnectionToken& operator=(ConnectionToken&&) = delete;
    ~ConnectionToken() {
        if (count_ != nullptr) --*count_;
    }

private:
    std::atomic<int>* count_;
};

void addCommonHeaders(Response& res, const Request& req, Server::Impl& server) {
    res.set(http::field::server, "tavrin-service");
    res.set(http::field::cache_control, "no-store");
    res.set("X-Content-Type-Options", "nosniff");
    if (hasHeader(req, http::field::origin)) {
        const std::string origin = headerText(req, http::field::origin);
        if (server.policy.allows(origin)) {
            res.set(http::field::access_control_allow_origin, origin);
            res.set(http::field::vary, "Origin");
        }
    }
}

Response textResponse(const Request& req, Server::Impl& server, http::status status, std::string body,
                      const char* contentType) {
    Response res{status, req.version()};
    addCommonHeaders(res, req, server);
    res.set(http::field::content_type, contentType);
    res.keep_alive(req.keep_alive());
    res.body() = std::move(body);
    res.prepare_payload();
    return res;
}

Response errorResponse(const Request& req, Server::Impl& server, http::status status, const std::string& message) {
    Json body = {{"error", message}, {"status", static_cast<int>(status)}};
    return textResponse(req, server, status, body.dump(), "application/json");
}

Json resultJson(const Outcome& outcome) {
    if (const auto* text = std::get_if<std::string>(&outcome.result)) return *text;
    if (const auto* handle = std::get_if<std::int32_t>(&outcome.result)) return *handle;
    return std::get<bool>(outcome.result);
}

std::string resultBody(const Outcome& outcome) {
    if (const auto* text = std::get_if<std::string>(&outcome.result)) return *text;
    if (const auto* handle = std::get_if<std::int32_t>(&outcome.result)) return std::to_string(*handle);
    return std::get<bool>(outcome.result) ? "true" : "false";
}

// ---- WebSocket -------------------------------------------------------------------------------

class WsSession : public std::enable_shared_from_this<WsSession> {
public:
    WsSession(beast::tcp_stream&& stream, ConnectionToken token, Server::Impl& server, std::string origin)
        : ws_(std::move(stream)), token_(std::move(token)), server_(server) {
        caller_.origin = std::move(origin);
        caller_.socket = server.nextSocket++;
    }

    void start(Request req) {
        beast::get_lowest_layer(ws_).expires_never();
        websocket::stream_base::timeout timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
        timeouts.idle_timeout = std::chrono::milliseconds(server_.settings.idleTimeoutMs);
        timeouts.keep_alive_pings = true;
        ws_.set_option(timeouts);
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& res) { res.set(http::field::server, "tavrin-service"); }));
        ws_.read_message_max(server_.settings.maxBodyBytes);
        {
            std::lock_guard<std::mutex> lock(server_.sessionsMutex);
            server_.sessions[caller_.socket] = shared_from_this();
        }
        ws_.async_accept(req, beast::bind_front_handler(&WsSession::onAccept, shared_from_this()));
    }

    // At stop, from the I/O thread.
    void close() {
        if (finished_) return;
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

private:
    struct Subscription {
        std::int32_t portType = 0, vID = 0, pID = 0;
        int intervalMs = kDefaultEventIntervalMs;
        std::optional<std::string> last;
        std::unique_ptr<net::steady_timer> timer;
        bool active = true;
    };

    void onAccept(beast::error_code ec) {
        if (ec) return finish();
        read();
    }

    void read() { ws_.async_read(buffer_, beast::bind_front_handler(&WsSession::onRead, shared_from_this())); }

    void onRead(beast::error_code ec, std::size_t) {
        if (ec) return finish();
        const std::string message = beast::buffers_to_string(buffer_.data());
        buffer_.consume(buffer_.size());
        handle(message);
        read();
    }

    void fail(const Json& id, int status, const std::string& message) {
        send(Json{{"id", id}, {"error", {{"status", status}, {"message", message}}}}.dump());
    }

    void handle(const std::string& message) {
        Json request = Json::parse(message, nullptr, false);
        if (request.is_discarded() || !request.is_object()) {
            return fail(nullptr, 400, "a message must be a JSON object {\"id\", \"method\", \"params\"}");
        }
        Json id = request.contains("id") ? request["id"] : Json();
        if (!id.is_null() && !id.is_number_integer() && !id.is_string()) {
            return fail(nullptr, 400, "\"id\" must be an integer or a string");
        }
        if (!request.contains("method") || !request["method"].is_string()) {
            return fail(id, 400, "\"method\" must be a string");
        }
        const std::string method = request["method"].get<std::string>();
        Json params = request.contains("params") ? request["params"] : Json::object();
        if (method == "subscribe" || method == "unsubscribe") return subscription(id, method, params);
        const auto known = methodByName(method);
        if (!known) return fail(id, 404, "unknown method \"" + method + "\"");
        ParsedCall parsed = parseCall(*known, params);
        if (!parsed.call) return fail(id, 400, parsed.error);
        auto self = shared_from_this();
        net::post(server_.deviceIoc, [self, id, call = std::move(*parsed.call)] {
            Outcome outcome = self->server_.dispatcher.run(call, self->caller_);
            net::post(self->ws_.get_executor(), [self, id, outcome = std::move(outcome)] {
                if (outcome.status != 200) return self->fail(id, outcome.status, outcome.error);
                self->send(Json{{"id", id}, {"result", resultJson(outcome)}}.dump());
            });
        });
    }

    // {"method":"subscribe","params":{"event":"devices","portType":N,"vID":N,"pID":N,"intervalMs":N}}:
    // the device list of that kind now and whenever it changes (looked at every intervalMs).
    void subscription(const Json& id, const std::string& method, const Json& params) {
        const auto event = params.is_object() ? params.find("event") : params.end();
        if (event == params.end() || !event->is_string() || event->get<std::string>() != "devices") {
            return fail(id, 400, method + ": params must name the event \"devices\"");
        }
        auto number = [&](const char* key, std::int32_t fallback) -> std::optional<std::int32_t> {
            if (!params.contains(key)) return fallback;
            const Json& v = params[key];
            if (!v.is_number_integer() || v.get<std::int64_t>() < 0 || v.get<std::int64_t>() > 0x7FFFFFFF)
                return std::nullopt;
            return static_cast<std::int32_t>(v.get<std::int64_t>());
        };
        const auto portType = number("portType", PORT_NET_DATA);
        const auto vID = number("vID", 0);
        const auto pID = number("pID", 0);
        const auto interval = number("intervalMs", kDefaultEventIntervalMs);
        if (!portType || !vID || !pID || !interval) {
            return fail(id, 400, method + ": portType, vID, pID and intervalMs must be non-negative integers");
        }
        const std::string key = std::to_string(*portType) + ":" + std::to_string(*vID) + ":" + std::to_string(*pID);
        if (method == "unsubscribe") {
            const auto it = subscriptions_.find(key);
            if (it != subscriptions_.end()) {
                it->second->active = false;
                it->second->timer->cancel();
                subscriptions_.erase(it);
            }
            return send(Json{{"id", id}, {"result", true}}.dump());
        }
        if (subscriptions_.count(key) == 0 && subscriptions_.size() >= kMaxSubscriptions) {
            return fail(id, 429, "subscribe: at most 4 device lists per connection");
        }
        if (subscriptions_.count(key) == 0) {
            auto sub = std::make_shared<Subscription>();
            sub->portType = *portType;
            sub->vID = *vID;
            sub->pID = *pID;
            sub->intervalMs = std::max(kMinEventIntervalMs, *interval);
            sub->timer = std::make_unique<net::steady_timer>(ws_.get_executor());
            subscriptions_[key] = sub;
            poll(sub);
        }
        send(Json{{"id", id}, {"result", true}}.dump());
    }

    void poll(const std::shared_ptr<Subscription>& sub) {
        auto self = shared_from_this();
        Call call;
        call.method = Method::EnumDevPath;
        call.portType = sub->portType;
        call.vID = sub->vID;
        call.pID = sub->pID;
        net::post(server_.deviceIoc, [self, sub, call] {
            Outcome outcome = self->server_.dispatcher.run(call, self->caller_);
            net::post(self->ws_.get_executor(), [self, sub, outcome = std::move(outcome)] {
                if (!sub->active || self->finished_) return;
                const std::string text = resultBody(outcome);
                if (!sub->last || *sub->last != text) {
                    sub->last = text;
                    self->send(Json{{"event", "devices"},
                                    {"portType", sub->portType},
                                    {"vID", sub->vID},
                                    {"pID", sub->pID},
                                    {"result", text}}
                                   .dump());
                }
                sub->timer->expires_after(std::chrono::milliseconds(sub->intervalMs));
                sub->timer->async_wait([self, sub](beast::error_code ec) {
                    if (!ec && sub->active && !self->finished_) self->poll(sub);
                });
            });
        });
    }

    void send(std::string message) {
        if (finished_) return;
        queue_.push_back(std::move(message));
        if (queue_.size() == 1) write();
    }

    void write() {
        ws_.text(true);
        ws_.async_write(net::buffer(queue_.front()), beast::bind_front_handler(&WsSession::onWrite, shared_from_this()));
    }

    void onWrite(beast::error_code ec, std::size_t) {
        if (ec) return finish();
        queue_.pop_front();
        if (!queue_.empty()) write();
    }

    // The connection is gone: its subscriptions stop and the devices it opened are closed.
    void finish() {
        if (finished_) return;
        finished_ = true;
        queue_.clear();
        for (auto& entry : subscriptions_) {
            entry.second->active = false;
            entry.second->timer->cancel();
        }
        subscriptions_.clear();
        {
            std::lock_guard<std::mutex> lock(server_.sessionsMutex);
            server_.sessions.erase(caller_.socket);
        }
        Server::Impl& server = server_;
        const Caller caller = caller_;
        net::post(server.deviceIoc, [&server, caller] {
            const std::vector<std::int32_t> closed = server.dispatcher.closeSocketDevices(caller.socket);
            for (std::int32_t h : closed) {
                server.note("closed device " + std::to_string(h) + " of a WebSocket of " +
                            (caller.origin.empty() ? std::string("a program without origin") : caller.origin) +
                            " that was closed");
            }
        });
    }

    websocket::stream<beast::tcp_stream> ws_;
    ConnectionToken token_;
    Server::Impl& server_;
    Caller caller_;
    beast::flat_buffer buffer_;
    std::deque<std::string> queue_;
    std::map<std::string, std::shared_ptr<Subscription>> subscriptions_;
    bool finished_ = false;
};

// ---- HTTP ------------------------------------------------------------------------------------

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket&& socket, ConnectionToken token, Server::Impl& server)
        : stream_(std::move(socket)), token_(std::move(token)), server_(server) {}

    void start() { net::dispatch(stream_.get_executor(), beast::bind_front_handler(&HttpSession::read, shared_from_this())); }

private:
    void read() {
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        parser_->body_limit(server_.settings.maxBodyBytes);
        stream_.expires_after(std::chrono::milliseconds(server_.settings.idleTimeoutMs));
        http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpSession::onRead, shared_from_this()));
    }

    void onRead(beast::error_code ec, std::size_t) {
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::operation_aborted ||
            ec == net::error::connection_reset || ec == net::error::eof) {
            return close();
        }
        if (ec == http::error::body_limit) {
            return reject(http::status::payload_too_large,
                          "the request body is larger than " + std::to_string(server_.settings.maxBodyBytes) + " bytes");
        }
        if (ec == http::error::header_limit) {
            return reject(http::status::request_header_fields_too_large, "the request's header is too large");
        }
        if (ec) return reject(http::status::bad_request, "malformed HTTP request (" + ec.message() + ")");
        handle(parser_->release());
    }

    // An answer to a request that could not be read whole; the connection closes after it.
    void reject(http::status status, const std::string& message) {
        Request req;
        req.version(11);
        req.keep_alive(false);
        send(errorResponse(req, server_, status, message), true);
    }

    void handle(Request req) {
        const std::string target(req.target());
        const bool upgrade = websocket::is_upgrade(req);
        const bool call = req.method() == http::verb::post || upgrade;
        if (auto refused = server_.refusal(req, call)) {
            return send(errorResponse(req, server_, http::status::forbidden, *refused));
        }
        if (upgrade) {
            if (target != "/ws") return send(errorResponse(req, server_, http::status::not_found, "WebSocket at /ws only"));
            auto ws = std::make_shared<WsSession>(std::move(stream_), std::move(token_), server_,
                                                  headerText(req, http::field::origin));
            ws->start(std::move(req));
            return;
        }
        switch (req.method()) {
        case http::verb::options: return send(preflight(req));
        case http::verb::get: return send(get(req));
        case http::verb::post: return post(std::move(req));
        default:
            return send(errorResponse(req, server_, http::status::method_not_allowed, "only GET, POST and OPTIONS"));
        }
    }

    Response preflight(const Request& req) {
        Response res{http::status::no_content, req.version()};
        addCommonHeaders(res, req, server_);
        res.set(http::field::access_control_allow_methods, "GET, POST, OPTIONS");
        res.set(http::field::access_control_allow_headers, "Content-Type");
        res.set(http::field::access_control_max_age, "600");
        if (headerText(req, "Access-Control-Request-Private-Network") == "true") {
            res.set("Access-Control-Allow-Private-Network", "true");
        }
        res.keep_alive(req.keep_alive());
        res.prepare_payload();
        return res;
    }

    Response get(const Request& req) {
        const std::string target(req.target().substr(0, req.target().find('?')));
        if (target == "/health") {
            Json body = {{"status", "ok"}, {"devicesOpen", server_.dispatcher.openCount()}};
            return textResponse(req, server_, http::status::ok, body.dump(), "application/json");
        }
        if (target == "/version") {
            Json body = {{"service", "tavrin-service"}, {"version", TAVRIN_VERSION_STRING}};
            return textResponse(req, server_, http::status::ok, body.dump(), "application/json");
        }
        if (target == "/tavrin-client.js") {
            return textResponse(req, server_, http::status::ok, kClientScript, "text/javascript; charset=utf-8");
        }
        const std::string file = pageFileOf(std::string_view(req.target().data(), req.target().size()));
        if (server_.settings.webRoot.empty() || file.empty()) {
            return errorResponse(req, server_, http::status::not_found, "no such page: " + target);
        }
        std::ifstream in(server_.settings.webRoot + "/" + file, std::ios::binary);
        std::ostringstream content;
        if (in) content << in.rdbuf();
        if (!in || content.str().size() > kMaxPageBytes) {
            return errorResponse(req, server_, http::status::not_found, "no such page: " + target);
        }
        return textResponse(req, server_, http::status::ok, content.str(), contentTypeOf(file));
    }

    void post(Request req) {
        const std::string target(req.target());
        const auto method = target.size() > 1 ? methodByName(target.substr(1)) : std::nullopt;
        if (!method) return send(errorResponse(req, server_, http::status::not_found, "no such method: " + target));
        ParsedCall parsed = parseCallBody(*method, req.body());
        if (!parsed.call) return send(errorResponse(req, server_, http::status::bad_request, parsed.error));
        Caller caller;
        caller.origin = headerText(req, http::field::origin);
        auto self = shared_from_this();
        net::post(server_.deviceIoc, [self, caller, req = std::move(req), call = std::move(*parsed.call)]() mutable {
            Outcome outcome = self->server_.dispatcher.run(call, caller);
            net::post(self->stream_.get_executor(), [self, req = std::move(req), outcome = std::move(outcome)] {
                if (outcome.status != 200) {
                    return self->send(errorResponse(req, self->server_, static_cast<http::status>(outcome.status),
                                                    outcome.error));
                }
                self->send(textResponse(req, self->server_, http::status::ok, resultBody(outcome),
                                        "text/plain; charset=utf-8"));
            });
        });
    }

    void send(Response res, bool closeAfter = false) {
        auto message = std::make_shared<Response>(std::move(res));
        if (closeAfter) message->keep_alive(false);
        stream_.expires_after(std::chrono::milliseconds(server_.settings.idleTimeoutMs));
        http::async_write(stream_, *message, [self = shared_from_this(), message](beast::error_code ec, std::size_t) {
            if (ec || !message->keep_alive()) return self->close();
            self->read();
        });
    }

    // Ends the sending side, then reads and drops what the peer still sends (a body that was
    // refused) until it closes too or a second passes: closing with unread bytes would reset the
    // connection, and the peer could lose the answer.
    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(std::chrono::seconds(1));
        drain();
    }

    void drain() {
        stream_.async_read_some(net::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return self->stream_.close();
            self->drain();
        });
    }

    beast::tcp_stream stream_;
    ConnectionToken token_;
    Server::Impl& server_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    char scratch_[4096];
};

}  // namespace

void Server::Impl::accept(tcp::acceptor& acceptor) {
    acceptor.async_accept(net::make_strand(ioc), [this, &acceptor](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
        if (!ec) {
            if (connections.load() >= settings.maxConnections) {
                note("refused a connection: " + std::to_string(settings.maxConnections) + " connections are open");
                auto s = std::make_shared<tcp::socket>(std::move(socket));
                static const std::string body = "{\"error\":\"too many connections\",\"status\":503}";
                static const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
                                                "Content-Length: " + std::to_string(body.size()) +
                                                "\r\nConnection: close\r\n\r\n" + body;
                net::async_write(*s, net::buffer(busy), [s](beast::error_code, std::size_t) {
                    beast::error_code ignored;
                    s->shutdown(tcp::socket::shutdown_both, ignored);
                    s->close(ignored);
                });
            } else {
                std::make_shared<HttpSession>(std::move(socket), ConnectionToken(connections), *this)->start();
            }
        }
        accept(acceptor);
    });
}

Server::Server(Settings settings, DeviceMethods& methods, LogSink log)
    : impl_(std::make_unique<Impl>(std::move(settings), methods, std::move(log))) {}

Server::~Server() { stop(); }

bool Server::start(std::string& error) {
    Impl& s = *impl_;
    auto open = [&](const tcp::endpoint& at, beast::error_code& ec) -> std::unique_ptr<tcp::acceptor> {
        auto acceptor = std::make_unique<tcp::acceptor>(s.ioc);
        acceptor->open(at.protocol(), ec);
        if (ec) return nullptr;
        if (at.address().is_v6()) acceptor->set_option(net::ip::v6_only(true), ec);
        if (kReuseAddress) acceptor->set_option(net::socket_base::reuse_address(true), ec);
        acceptor->bind(at, ec);
        if (ec) return nullptr;
        acceptor->listen(net::socket_base::max_listen_connections, ec);
        if (ec) return nullptr;
        return acceptor;
    };
    for (int attempt = 0; attempt < 20 && s.acceptors.empty(); ++attempt) {
        beast::error_code ec;
        auto v4 = open(tcp::endpoint(net::ip::address_v4::loopback(), s.settings.port), ec);
        if (!v4) {
            error = "cannot listen on 127.0.0.1:" + std::to_string(s.settings.port) + ": " + ec.message();
            return false;
        }
        const std::uint16_t port = v4->local_endpoint().port();
        auto v6 = open(tcp::endpoint(net::ip::address_v6::loopback(), port), ec);
        if (!v6 && ec == net::error::address_in_use) {
            if (s.settings.port != 0) {
                error = "cannot listen on [::1]:" + std::to_string(port) + ": " + ec.message();
                return false;
            }
            continue;  // a free port for 127.0.0.1 that [::1] does not have: another one
        }
        if (!v6) s.note("no IPv6 loopback (" + ec.message() + "): listening on 127.0.0.1 only");
        s.boundPort = port;
        s.acceptors.push_back(std::move(v4));
        if (v6) {
            s.acceptors.push_back(std::move(v6));
            s.ipv6 = true;
        }
    }
    if (s.acceptors.empty()) {
        error = "no port free on both loopback addresses";
        return false;
    }
    for (auto& acceptor : s.acceptors) s.accept(*acceptor);
    s.deviceWork.emplace(s.deviceIoc.get_executor());
    s.deviceThread = std::thread([&s] { s.deviceIoc.run(); });
    // A handler that throws (it should not) is logged and the service goes on serving.
    s.ioThread = std::thread([&s] {
        for (;;) {
            try {
                s.ioc.run();
                return;
            } catch (const std::exception& e) {
                s.note(std::string("a request failed: ") + e.what());
            }
        }
    });
    s.running = true;
    return true;
}

std::uint16_t Server::port() const { return impl_->boundPort; }
bool Server::listensOnIpv6() const { return impl_->ipv6; }
std::size_t Server::openDevices() const { return impl_->dispatcher.openCount(); }

void Server::stop() {
    Impl& s = *impl_;
    if (!s.running) return;
    s.running = false;
    // On the I/O thread: no more connections, every WebSocket closed (each closes its devices
    // through the worker).
    net::post(s.ioc, [&s] {
        for (auto& acceptor : s.acceptors) {
            beast::error_code ignored;
            acceptor->close(ignored);
        }
        std::vector<std::shared_ptr<void>> open;
        {
            std::lock_guard<std::mutex> lock(s.sessionsMutex);
            for (auto& entry : s.sessions)
                if (auto p = entry.second.lock()) open.push_back(p);
        }
        for (auto& p : open) static_cast<WsSession*>(p.get())->close();
    });
    // Let the I/O thread finish what the closes started, then end it; the worker runs what is
    // queued and ends; what a WebSocket opened and its close did not reach is closed here.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    s.ioc.stop();
    s.ioThread.join();
    s.deviceWork.reset();
    s.deviceThread.join();
    s.dispatcher.closeSocketDevices(Dispatcher::kEverySocket);
    s.acceptors.clear();
}

}  // namespace tavrin::service
