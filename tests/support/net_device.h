// A network device for tests: listeners for the data channel at port P and the control channel
// at P + 100 on a loopback address, with the connections they accepted.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/net_peer.h"

namespace tavrin::test {

class NetDevice {
public:
    explicit NetDevice(platform::Ipv4Endpoint at = {{127, 0, 0, 1}, 0}) : address_(at) {
        for (int attempt = 0; attempt < 20 && !control_; ++attempt) {
            data_ = platform::TcpListener::listen(at);
            if (!data_) continue;
            if (data_->port() > 65535 - 100) {  // no room for the control channel at P + 100
                data_.reset();
                continue;
            }
            platform::Ipv4Endpoint ctrl = at;
            ctrl.port = static_cast<std::uint16_t>(data_->port() + 100);
            control_ = platform::TcpListener::listen(ctrl);
        }
    }
    bool valid() const { return data_ && control_; }
    std::uint16_t port() const { return data_->port(); }
    std::u16string path() const {
        std::string p = std::to_string(address_.address[0]) + "." + std::to_string(address_.address[1]) + "." +
                        std::to_string(address_.address[2]) + "." + std::to_string(address_.address[3]) + ":" +
                        std::to_string(port());
        return std::u16string(p.begin(), p.end());
    }
    platform::TcpListener& dataListener() { return *data_; }
    platform::TcpListener& controlListener() { return *control_; }

    // Reads until `count` bytes came or timeoutMs passed.
    static std::string readSome(platform::TcpStream& s, std::size_t count, int timeoutMs) {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            char buf[512];
            long n = s.read(buf, std::min(sizeof buf, count - out.size()), 50);
            if (n < 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    platform::Ipv4Endpoint address_;
    std::unique_ptr<platform::TcpListener> data_;
    std::unique_ptr<platform::TcpListener> control_;
};

}  // namespace tavrin::test
