// TcpRelay: a TCP relay on 127.0.0.1 in front of a real server, which a test can freeze: while it is
// frozen no byte moves in either direction, as with a server stopped by SIGSTOP or a network
// partition, and connections made meanwhile are accepted by the kernel but never answered. A frozen
// relay thaws by itself after `thawAfter`, so that a test whose client never gives up fails instead
// of hanging. One relay thread serves every connection; the object owns it and the sockets.
#ifndef DBIF_TESTS_TCPRELAY_H
#define DBIF_TESTS_TCPRELAY_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

class TcpRelay {
public:
    TcpRelay(int serverPort, std::chrono::seconds thawAfter) : serverPort(serverPort), thawAfter(thawAfter) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 16) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        worker = std::thread([this] { relay(); });
    }
    ~TcpRelay() {
        stopping = true;
        if (worker.joinable())
            worker.join();
        for (const auto& pair : pairs) {
            if (pair.first >= 0) {
                ::close(pair.first);
                ::close(pair.second);
            }
        }
        ::close(listener);
    }
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    // The relay's own port; 0 when it could not listen.
    int getPort() const { return port; }
    void freeze() {
        frozenSince = std::chrono::steady_clock::now();
        frozen = true;
    }
    void thaw() { frozen = false; }

private:
    static sockaddr_in loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    void relay() {
        while (!stopping) {
            if (frozen && std::chrono::steady_clock::now() - frozenSince.load() > thawAfter)
                frozen = false;
            if (frozen) {
                // Nothing is read: bytes and new connections wait in the kernel, unanswered.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            std::vector<pollfd> watched{{listener, POLLIN, 0}};
            for (const auto& pair : pairs) {
                watched.push_back({pair.first, POLLIN, 0});
                watched.push_back({pair.second, POLLIN, 0});
            }
            if (::poll(watched.data(), watched.size(), 20) <= 0)
                continue;
            if (watched[0].revents & POLLIN)
                accept();
            for (size_t i = 1; i < watched.size(); ++i) {
                if (watched[i].revents & (POLLIN | POLLHUP | POLLERR))
                    forward(watched[i].fd, (i - 1) / 2);
            }
        }
    }

    void accept() {
        const int client = ::accept(listener, nullptr, nullptr);
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = loopback(serverPort);
        if (client < 0 ||
            ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(client);
            ::close(server);
            return;
        }
        pairs.emplace_back(client, server);
    }

    // Moves what one side sent to the other; a side that closed closes its partner, and the pair is
    // left as (-1, -1), which poll skips.
    void forward(int from, size_t pair) {
        const int to = pairs[pair].first == from ? pairs[pair].second : pairs[pair].first;
        char buffer[65536];
        const ssize_t got = ::recv(from, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0) {
            ::close(from);
            ::close(to);
            pairs[pair] = {-1, -1};
            return;
        }
        for (ssize_t sent = 0; sent < got;) {
            const ssize_t n = ::send(to, buffer + sent, got - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += n;
        }
    }

    const int serverPort;
    const std::chrono::seconds thawAfter;
    int listener = -1;
    int port = 0;
    std::vector<std::pair<int, int>> pairs;  // (client, server), touched by the relay thread only
    std::atomic<bool> frozen{false};
    std::atomic<bool> stopping{false};
    std::atomic<std::chrono::steady_clock::time_point> frozenSince{};
    std::thread worker;
};

#endif
