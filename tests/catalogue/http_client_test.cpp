#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "HttpClient.h"
#include "http_test_server.h"

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

std::string Url(const HttpTestServer& server, const std::string& target) {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + target;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

// A TCP listener on 127.0.0.1 that answers one connection with canned bytes, for replies
// a well-behaved server library will not produce.
class CannedServer {
  public:
    // With `reset`, the connection is dropped with a reset after the reply.
    explicit CannedServer(std::string reply, bool reset = false) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("canned server: no port");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, reply = std::move(reply), reset] {
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            if (write(fd, reply.data(), reply.size()) < 0) {
                // the client went away; nothing to report
            }
            if (reset) {
                const linger abort{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            close(fd);
        });
    }
    ~CannedServer() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/x"; }

  private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on.
int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

HttpTimeouts QuickStall() {
    HttpTimeouts timeouts;
    timeouts.stall = std::chrono::milliseconds(500);
    return timeouts;
}

}  // namespace

TEST(HttpClientStatus, EveryRequestReportsItsWholeConnectionAndTheLabelTexts) {
    HttpTestServer server;
    server.Serve("/a", "body");
    HttpClient http;
    std::vector<int> codes;
    http.SetOnStatus([&](int code, const std::string&) { codes.push_back(code); });

    EXPECT_EQ(http.Get(Url(server, "/a"), 100), "body");
    EXPECT_EQ(http.Get(Url(server, "/a"), 100), "body");
    EXPECT_THAT(codes, ElementsAre(0, 1, 2, 3, 4, 0, 1, 2, 3, 4));

    EXPECT_EQ(StatusLabelText(0), "Wyszukiwanie hosta");
    EXPECT_EQ(StatusLabelText(1), "Łączenie z hostem");
    EXPECT_EQ(StatusLabelText(2), "Połączenie zestawione");
    EXPECT_EQ(StatusLabelText(3), "Rozłączanie");
    EXPECT_EQ(StatusLabelText(4), "Rozłączono");
    EXPECT_EQ(StatusLabelText(5), std::nullopt);
    EXPECT_EQ(StatusLabelText(-1), std::nullopt);
}

TEST(HttpClientRequest, SendsOnlyHostAcceptAndUserAgentAndIgnoresProxyEnvironment) {
    HttpTestServer server;
    server.Serve("/a", "ok");
    // A proxy that refuses everything: the request must not go there.
    const std::string proxy = "http://127.0.0.1:" + std::to_string(ClosedPort());
    setenv("http_proxy", proxy.c_str(), 1);
    setenv("HTTP_PROXY", proxy.c_str(), 1);
    HttpClient http;
    const std::string body = http.Get(Url(server, "/a"), 100);
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    EXPECT_EQ(body, "ok");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    std::vector<std::string> headers;
    for (const auto& [name, value] : requests[0].headers) {
        // The server library adds these itself.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
            name == "LOCAL_PORT") {
            continue;
        }
        headers.push_back(name + ": " + value);
    }
    EXPECT_THAT(headers,
                UnorderedElementsAre("Host: 127.0.0.1:" + std::to_string(server.Port()),
                                     "Accept: text/html, */*",
                                     "User-Agent: Mozilla/3.0 (compatible; Indy Library)"));
}

TEST(HttpClientRequest, CookieSetByOneResponseComesBackOnLaterRequests) {
    HttpTestServer server;
    server.Handle("/first", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Set-Cookie", "sesja=abc123; Path=/");
        response.set_content("1", "text/plain");
    });
    server.Serve("/second", "2");
    HttpClient http;
    http.Get(Url(server, "/second"), 10);
    http.Get(Url(server, "/first"), 10);
    http.Get(Url(server, "/second"), 10);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].headers.count("Cookie"), 0u);
    EXPECT_EQ(requests[2].headers.find("Cookie")->second, "sesja=abc123");
}

TEST(HttpClientErrors, StatusOtherThanSuccessIsTheStatusLineAsSent) {
    HttpTestServer server;
    server.Handle("/moved", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/elsewhere", 302);
    });
    server.Serve("/elsewhere", "x");
    HttpClient http;
    EXPECT_EQ(ErrorOf([&] { http.Get(Url(server, "/missing"), 100); }), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(ErrorOf([&] { http.GetAtMost(Url(server, "/moved"), 100); }), "HTTP/1.1 302 Found");
    EXPECT_THAT(server.Targets(), ElementsAre("/missing", "/moved"));

    CannedServer canned("HTTP/1.1 503 Serwer odpoczywa\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(ErrorOf([&] { http.Get(canned.Url(), 100); }), "HTTP/1.1 503 Serwer odpoczywa");
}

TEST(HttpClientErrors, NetworkFailuresReadAsSocketErrors) {
    HttpClient http;
    std::vector<int> codes;
    http.SetOnStatus([&](int code, const std::string&) { codes.push_back(code); });
    const std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
    EXPECT_EQ(ErrorOf([&] { http.Get(url, 100); }), "Socket Error # 111\nConnection refused.");
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), hsDisconnected);

    CannedServer reset("HTTP/1.1 200 OK\r\nContent-Le", true);
    EXPECT_EQ(ErrorOf([&] { http.Get(reset.Url(), 1000); }),
              "Socket Error # 104\nConnection reset by peer.");

    EXPECT_EQ(ErrorOf([&] { http.Get("http://nonexistent.invalid/liveupdate/", 100); }),
              "Socket Error # 11001\nHost not found.");

    CannedServer truncated("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
    EXPECT_EQ(ErrorOf([&] { http.Get(truncated.Url(), 1000); }), "Connection Closed Gracefully.");
}

TEST(HttpClientBounds, BodyCaps) {
    HttpTestServer server;
    server.Serve("/eleven", "01234567890");
    // A body that never ends.
    server.Handle("/endless", [&server](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/octet-stream", [&server](size_t, httplib::DataSink& sink) {
                const std::string chunk(4096, 'x');
                return !server.Stopping() && sink.write(chunk.data(), chunk.size());
            });
    });
    HttpClient http;
    EXPECT_EQ(http.Get(Url(server, "/eleven"), 11), "01234567890");
    EXPECT_EQ(ErrorOf([&] { http.Get(Url(server, "/eleven"), 10); }),
              "Response body exceeds 10 bytes.");
    EXPECT_EQ(http.GetAtMost(Url(server, "/eleven"), 10), "01234567890");
    EXPECT_EQ(http.GetAtMost(Url(server, "/endless"), 15180).size(), 15181u);
    EXPECT_EQ(ErrorOf([&] { http.Get(Url(server, "/endless"), 1 << 20); }),
              "Response body exceeds 1048576 bytes.");
    // The client is still usable afterwards.
    EXPECT_EQ(http.Get(Url(server, "/eleven"), 11), "01234567890");
}

TEST(HttpClientBounds, StalledServerEndsAtTheStallBoundButSlowOneIsNotCutOff) {
    HttpTestServer server;
    server.Handle("/stall", [&server](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            100, "application/octet-stream",
            [&server](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset == 0) return sink.write("0123456789", 10);
                for (int i = 0; i < 200 && !server.Stopping(); ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(25));
                }
                return false;
            });
    });
    server.Handle("/slow", [&server](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            10, "application/octet-stream",
            [&server](size_t offset, size_t, httplib::DataSink& sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                return !server.Stopping() && sink.write(&"abcdefghij"[offset], 1);
            });
    });
    HttpClient http(QuickStall());

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { http.Get(Url(server, "/stall"), 1000); }), "Read timed out.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(http.Get(Url(server, "/slow"), 1000), "abcdefghij");
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

TEST(HttpClientHandler, ExceptionFromStatusHandlerEndsTheRequestUnchanged) {
    HttpTestServer server;
    server.Serve("/a", "ok");
    HttpClient http;
    http.SetOnStatus([](int code, const std::string&) {
        if (code == hsConnected) throw std::logic_error("window gone");
    });
    try {
        http.Get(Url(server, "/a"), 10);
        ADD_FAILURE() << "no exception";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "window gone");
    }
    EXPECT_TRUE(server.Targets().empty());

    // A moved client keeps its settings and its handler's place.
    HttpClient moved(std::move(http));
    std::vector<int> codes;
    moved.SetOnStatus([&](int code, const std::string&) { codes.push_back(code); });
    EXPECT_EQ(moved.Get(Url(server, "/a"), 10), "ok");
    EXPECT_THAT(codes, ElementsAre(0, 1, 2, 3, 4));
}
