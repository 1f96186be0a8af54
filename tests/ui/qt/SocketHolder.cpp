// A small program that listens on 127.0.0.1, prints its port and waits to be ended: a row the
// window tests can find by its name.
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main() {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0)
        return 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(sock, 1) != 0 ||
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 1;
    std::printf("%u\n", static_cast<unsigned>(ntohs(addr.sin_port)));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
