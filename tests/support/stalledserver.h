#pragma once

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

/// A port on this computer that takes connections and never answers them, as a database server
/// that has stalled: the system completes each connection, and nobody accepts or reads it.
struct StalledServer
{
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    quint16 port = 0; ///< 0 when it could not listen

    StalledServer()
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (socket >= 0 && ::bind(socket, reinterpret_cast<sockaddr *>(&address), length) == 0
            && ::listen(socket, 16) == 0
            && ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    ~StalledServer()
    {
        if (socket >= 0)
            ::close(socket);
    }
    StalledServer(const StalledServer &) = delete;
    StalledServer &operator=(const StalledServer &) = delete;
};
