#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A real HTTP server on 127.0.0.1 (a free port) inside the test process. Paths are served
// from a table that tests fill while it runs; anything else is "404 Not Found". Every
// request is recorded. A connection is kept alive for `requestsPerConnection` requests,
// then the server closes it.
class HttpTestServer {
  public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    struct Seen {
        std::string target;  // as sent, still percent-encoded
        httplib::Headers headers;
    };

    explicit HttpTestServer(int requestsPerConnection = 1000);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>/liveupdate/"
    std::string BaseAddress() const;

    // `target` is the request target as sent, e.g. "/liveupdate/fa/lista.txt".
    void Serve(const std::string& target, std::string body);
    void Handle(const std::string& target, Handler handler);

    std::vector<Seen> Requests() const;
    std::vector<std::string> Targets() const;
    // How many connections the recorded requests came on (told apart by the client's port).
    int Connections() const;

    // True once the server is being torn down; long-running handlers end on it.
    bool Stopping() const { return stopping_; }

  private:
    void Dispatch(const httplib::Request& request, httplib::Response& response);

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::map<std::string, Handler> handlers_;
    std::vector<Seen> seen_;
};

// A firmware-sized body whose bytes depend on `seed`.
std::string FirmwareBody(std::size_t size, char seed);
