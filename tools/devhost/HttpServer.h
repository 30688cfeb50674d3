// A small HTTP/1.1 server for the development host: 127.0.0.1 only, one request per connection,
// each connection on its own thread so a long-poll never holds up the page's calls.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tools/devhost/BridgeProtocol.h"

namespace devhost {

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
};

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    explicit HttpServer(Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port).
    bool Start(unsigned short port);
    unsigned short Port() const { return port_; }

    // Stops accepting, drops connections still waiting for a request and waits, at most
    // `waitMs`, for the handlers already running. Sent window messages are served meanwhile:
    // a handler may be waiting on the calling (UI) thread.
    void Stop(unsigned waitMs);

    struct State;

private:
    std::shared_ptr<State> state_;
    std::thread acceptor_;
    unsigned short port_ = 0;
    bool winsock_ = false;
};

} // namespace devhost
