/* See peer.h. Linux only, like the whole benchmark: it measures against raw sockets. */
#define _GNU_SOURCE
#include "peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdatomic.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static atomic_int stopping;
static int listeners[2] = {-1, -1};
static pthread_t acceptor;

static int listen_on(int port) {
    struct sockaddr_in a;
    int on = 1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((unsigned short)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (struct sockaddr*)&a, sizeof a) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

static int port_of(int fd) {
    struct sockaddr_in a;
    socklen_t len = sizeof a;
    getsockname(fd, (struct sockaddr*)&a, &len);
    return ntohs(a.sin_port);
}

#define MAX_CONNECTIONS 32

struct connection {
    int fd;
    int commands;
};

/* One connection until the other end closes or the peer stops. */
static void* serve_connection(void* arg) {
    struct connection c = *(struct connection*)arg;
    unsigned char buf[65536];
    size_t have = 0;
    int on = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    while (!atomic_load(&stopping)) {
        struct pollfd q = {c.fd, POLLIN, 0};
        ssize_t n;
        if (poll(&q, 1, 50) <= 0) continue;
        n = recv(c.fd, buf + have, sizeof buf - have, 0);
        if (n <= 0) break;
        if (!c.commands) continue; /* data: dropped */
        have += (size_t)n;
        /* Packets: 0x10, code, length, check, payload. */
        while (have >= 4 && have >= 4u + buf[2]) {
            static const char model[] = "TV-P80";
            unsigned char reply[4 + sizeof model - 1];
            const size_t used = 4u + buf[2];
            unsigned sum = 0;
            size_t i;
            if (buf[0] != 0x10) { /* out of step: drop a byte */
                memmove(buf, buf + 1, --have);
                continue;
            }
            reply[0] = 0x10;
            reply[1] = buf[1];
            reply[2] = (unsigned char)(sizeof model - 1);
            for (i = 0; i < sizeof model - 1; ++i) {
                reply[4 + i] = (unsigned char)model[i];
                sum += (unsigned char)model[i];
            }
            reply[3] = (unsigned char)sum;
            if (send(c.fd, reply, sizeof reply, MSG_NOSIGNAL) != (ssize_t)sizeof reply) break;
            memmove(buf, buf + used, have - used);
            have -= used;
        }
    }
    close(c.fd);
    return NULL;
}

static struct connection connections[MAX_CONNECTIONS];
static pthread_t connection_threads[MAX_CONNECTIONS];
static atomic_int connection_count;

/* Accepts connections on both channels until stopped; each gets a thread of its own. */
static void* accept_all(void* arg) {
    (void)arg;
    while (!atomic_load(&stopping)) {
        struct pollfd p[2] = {{listeners[0], POLLIN, 0}, {listeners[1], POLLIN, 0}};
        int k;
        if (poll(p, 2, 50) <= 0) continue;
        for (k = 0; k < 2; ++k) {
            int n = atomic_load(&connection_count);
            int fd;
            if (!(p[k].revents & POLLIN)) continue;
            fd = accept4(listeners[k], NULL, NULL, SOCK_CLOEXEC);
            if (fd < 0) continue;
            if (n == MAX_CONNECTIONS) {
                close(fd);
                continue;
            }
            connections[n].fd = fd;
            connections[n].commands = k;
            if (pthread_create(&connection_threads[n], NULL, serve_connection, &connections[n]) != 0) {
                close(fd);
                continue;
            }
            atomic_store(&connection_count, n + 1);
        }
    }
    return NULL;
}

int bench_peer_start(void) {
    int attempt;
    atomic_store(&stopping, 0);
    for (attempt = 0; attempt < 50; ++attempt) {
        int data = listen_on(0), control, port;
        if (data < 0) return 0;
        port = port_of(data);
        control = port + 100 <= 65535 ? listen_on(port + 100) : -1;
        if (control < 0) {
            close(data);
            continue;
        }
        listeners[0] = data;
        listeners[1] = control;
        atomic_store(&connection_count, 0);
        if (pthread_create(&acceptor, NULL, accept_all, NULL) != 0) return 0;
        return port;
    }
    return 0;
}

void bench_peer_stop(void) {
    int i, n;
    atomic_store(&stopping, 1);
    pthread_join(acceptor, NULL);
    n = atomic_load(&connection_count);
    for (i = 0; i < n; ++i) pthread_join(connection_threads[i], NULL);
    close(listeners[0]);
    close(listeners[1]);
    listeners[0] = listeners[1] = -1;
}
