// A tiny HTTP/1.1 server on 127.0.0.1 for the update tests: one fixed response per server, or no
// response at all (a server that accepts and then never answers). It records every request head it
// receives. Runs on its own thread; the destructor closes every socket and joins.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brindlecot::updates::testing {

class LocalHttpServer
{
public:
    struct Response
    {
        bool answer = true; // false: read the request, then stay silent until the client leaves
        std::string head; // status line and headers, each ended by CR LF (blank line added)
        std::string body;
    };

    /// A response with status line "HTTP/1.1 <statusLine>", a Content-Length and the body.
    static Response make(
        const std::string& statusLine, const std::string& body, const std::string& extraHeaders = {})
    {
        Response r;
        r.head = "HTTP/1.1 " + statusLine + "\r\nContent-Type: application/json\r\nContent-Length: "
            + std::to_string(body.size()) + "\r\nConnection: close\r\n" + extraHeaders;
        r.body = body;
        return r;
    }

    /// Like make(), but without Content-Length: the body ends when the connection closes.
    static Response makeUnsized(const std::string& statusLine, const std::string& body)
    {
        Response r;
        r.head = "HTTP/1.1 " + statusLine + "\r\nContent-Type: application/json\r\nConnection: close\r\n";
        r.body = body;
        return r;
    }

    static Response silent()
    {
        Response r;
        r.answer = false;
        return r;
    }

    explicit LocalHttpServer(Response response_)
        : response(std::move(response_))
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0; // any free port
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(listener, 64) != 0)
            return;
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        worker = std::thread([this] { serve(); });
    }

    ~LocalHttpServer()
    {
        stopping.store(true);
        if (worker.joinable())
            worker.join();
        for (const Client& c : clients)
            ::close(c.fd);
        if (listener >= 0)
            ::close(listener);
    }

    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool ok() const { return port != 0; }
    /// URL of path on this server.
    std::string url(const std::string& path = "/updates.json") const
    {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }
    /// Every complete request head received so far.
    std::vector<std::string> requests() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return heads;
    }
    std::size_t requestCount() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return heads.size();
    }

private:
    struct Client
    {
        int fd = -1;
        std::string received;
        bool answered = false;
    };

    void serve()
    {
        while (!stopping.load()) {
            std::vector<pollfd> fds;
            fds.push_back({listener, POLLIN, 0});
            for (const Client& c : clients)
                fds.push_back({c.fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 10) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                const int fd = ::accept(listener, nullptr, nullptr);
                if (fd >= 0)
                    clients.push_back({fd, {}, false});
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                Client& c = clients[i - 1];
                char buffer[4096];
                const ssize_t got = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    ::close(c.fd);
                    c.fd = -1;
                    continue;
                }
                c.received.append(buffer, static_cast<std::size_t>(got));
                const auto end = c.received.find("\r\n\r\n");
                if (c.answered || end == std::string::npos)
                    continue;
                c.answered = true;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    heads.push_back(c.received.substr(0, end));
                }
                if (!response.answer)
                    continue;
                const std::string all = response.head + "\r\n" + response.body;
                std::size_t sent = 0;
                while (sent < all.size()) {
                    const ssize_t n = ::send(c.fd, all.data() + sent, all.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    sent += static_cast<std::size_t>(n);
                }
                ::shutdown(c.fd, SHUT_WR);
            }
            std::vector<Client> open;
            for (Client& c : clients)
                if (c.fd >= 0)
                    open.push_back(std::move(c));
            clients.swap(open);
        }
    }

    Response response;
    int listener = -1;
    uint16_t port = 0;
    std::thread worker;
    std::atomic<bool> stopping {false};
    std::vector<Client> clients; // server thread only (and the destructor after the join)
    mutable std::mutex lock;
    std::vector<std::string> heads;
};

} // namespace brindlecot::updates::testing
