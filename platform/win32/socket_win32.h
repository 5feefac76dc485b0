// IPv4 addresses and the socket owner for the Win32 socket files. Includes <winsock2.h> before <windows.h>.
#pragma once

#include <winsock2.h>

#include <cstring>

#include "platform/net_socket.h"
#include "platform/scoped_handle.h"

namespace tavrin::platform::win32 {

inline sockaddr_in toSockaddr(const Ipv4Endpoint& e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(e.port);
    std::memcpy(&a.sin_addr, e.address, 4);
    return a;
}

struct SocketTraits {
    using Type = SOCKET;
    static Type invalid() { return INVALID_SOCKET; }
    static void close(Type socket) { closesocket(socket); }
};
using ScopedSocket = ScopedHandle<SocketTraits>;

struct WsaEventTraits {
    using Type = WSAEVENT;
    static Type invalid() { return WSA_INVALID_EVENT; }
    static void close(Type event) { WSACloseEvent(event); }
};
using ScopedWsaEvent = ScopedHandle<WsaEventTraits>;

inline Ipv4Endpoint fromSockaddr(const sockaddr_in& a) {
    Ipv4Endpoint e;
    std::memcpy(e.address, &a.sin_addr, 4);
    e.port = ntohs(a.sin_port);
    return e;
}

}  // namespace tavrin::platform::win32
