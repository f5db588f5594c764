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
#include "TransferWatch.h"
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

// A TCP listener on 127.0.0.1 that answers `connections` connections (one request each) with
// canned bytes and closes them, for replies a well-behaved server library will not produce.
class CannedServer {
  public:
    // With `reset`, the connection is dropped with a reset after the reply.
    explicit CannedServer(std::string reply, bool reset = false, int connections = 1) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 4) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("canned server: no port");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, reply = std::move(reply), reset, connections] {
            for (int i = 0; i < connections; ++i) Answer(reply, reset);
        });
    }
    ~CannedServer() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/x"; }

  private:
    void Answer(const std::string& reply, bool reset) {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            request.append(buffer, static_cast<size_t>(n));
        }
        for (std::size_t done = 0; done < reply.size();) {
            const ssize_t n = write(fd, reply.data() + done, reply.size() - done);
            if (n <= 0) break;  // the client went away; nothing to report
            done += static_cast<std::size_t>(n);
        }
        if (reset) {
            const linger abort{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        close(fd);
    }

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

TEST(HttpClientStatus, OneKeptAliveConnectionReportsItsStatesOnceAndClosesAtTheEndOfTheRun) {
    HttpTestServer server;
    server.Serve("/a", "body");
    HttpClient http;
    std::vector<int> codes;
    http.SetOnStatus([&](int code, const std::string&) { codes.push_back(code); });

    EXPECT_EQ(http.Get(Url(server, "/a"), 100), "body");
    EXPECT_EQ(http.GetAtMost(Url(server, "/a"), 100), "body");
    EXPECT_EQ(http.Get(Url(server, "/a"), 100), "body");
    EXPECT_THAT(codes, ElementsAre(0, 1, 2));
    http.EndOfRun();
    EXPECT_THAT(codes, ElementsAre(0, 1, 2, 3, 4));
    http.EndOfRun();
    EXPECT_EQ(codes.size(), 5u);
    EXPECT_EQ(server.Connections(), 1);

    // The next run connects again.
    EXPECT_EQ(http.Get(Url(server, "/a"), 100), "body");
    http.EndOfRun();
    EXPECT_THAT(codes, ElementsAre(0, 1, 2, 3, 4, 0, 1, 2, 3, 4));
    EXPECT_EQ(server.Connections(), 2);
}

TEST(HttpClientStatus, AServerThatClosesTheConnectionIsConnectedToAgainWithTheNotifications) {
    // Closes after every second response, saying so.
    HttpTestServer saying(2);
    saying.Serve("/a", "body");
    HttpClient http;
    std::vector<int> codes;
    http.SetOnStatus([&](int code, const std::string&) { codes.push_back(code); });
    for (int i = 0; i < 5; ++i) EXPECT_EQ(http.Get(Url(saying, "/a"), 100), "body");
    http.EndOfRun();
    EXPECT_THAT(codes, ElementsAre(0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4));
    EXPECT_EQ(saying.Connections(), 3);

    // Closes after every response without a word: the kept-alive connection is found dead.
    codes.clear();
    CannedServer silent("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(http.Get(silent.Url(), 100), "ok");
    http.EndOfRun();
    EXPECT_THAT(codes, ElementsAre(0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4));
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
    EXPECT_EQ(server.Connections(), 1);
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
    moved.EndOfRun();
    EXPECT_THAT(codes, ElementsAre(0, 1, 2, 3, 4));
}

TEST(HttpClientErrors, FailuresWithoutASystemErrorShowLibcurlsOwnWords) {
    HttpClient http;
    CannedServer chunked(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\nzz\r\n");
    const std::string brokenChunk = ErrorOf([&] { http.Get(chunked.Url(), 1000); });
    EXPECT_THAT(brokenChunk, ::testing::HasSubstr("chunk"));
    EXPECT_THAT(brokenChunk, ::testing::Not(::testing::HasSubstr("Socket Error")));

    std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 10000; ++i) manyHeaders += "X-Naglowek: " + std::string(40, 'v') + "\r\n";
    CannedServer tooMany(manyHeaders + "Content-Length: 2\r\n\r\nok");
    const std::string tooLarge = ErrorOf([&] { http.Get(tooMany.Url(), 1000); });
    EXPECT_THAT(tooLarge, ::testing::HasSubstr("Too large response headers"));

    // One header line longer than libcurl takes.
    CannedServer hugeHeader("HTTP/1.1 200 OK\r\nX-Big: " + std::string(200000, 'h') +
                            "\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_THAT(ErrorOf([&] { http.Get(hugeHeader.Url(), 1000); }),
                ::testing::Not(::testing::HasSubstr("Socket Error")));

    // The client is usable afterwards, and the failures left no system error behind.
    CannedServer reset("HTTP/1.1 200 OK\r\nContent-Le", true);
    EXPECT_EQ(ErrorOf([&] { http.Get(reset.Url(), 1000); }),
              "Socket Error # 104\nConnection reset by peer.");
}

TEST(HttpClientErrors, StatusLineIsShownWholeAndReadAsCp1250WhenNotUtf8) {
    HttpClient http;
    const std::string longReason(60000, 'r');
    CannedServer longLine("HTTP/1.1 500 " + longReason + "\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(ErrorOf([&] { http.Get(longLine.Url(), 100); }), "HTTP/1.1 500 " + longReason);

    CannedServer cp1250("HTTP/1.1 404 Brak pliku \xB3\xB9\x9C\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(ErrorOf([&] { http.Get(cp1250.Url(), 100); }), "HTTP/1.1 404 Brak pliku łąś");
    CannedServer utf8("HTTP/1.1 404 Brak pliku łąś\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(ErrorOf([&] { http.Get(utf8.Url(), 100); }), "HTTP/1.1 404 Brak pliku łąś");
}

namespace {

// A body of `size` bytes sent `step` bytes at a time, one step every `every`.
void Drip(HttpTestServer& server, const std::string& target, std::size_t size, std::size_t step,
          std::chrono::milliseconds every) {
    server.Handle(
        target, [&server, size, step, every](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                size, "application/octet-stream",
                [&server, size, step, every](size_t offset, size_t, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(every);
                    const std::string piece(std::min(step, size - offset), 'd');
                    return !server.Stopping() && sink.write(piece.data(), piece.size());
                });
        });
}

HttpTimeouts QuickMinimumRate() {
    HttpTimeouts timeouts;
    timeouts.minimumRateWindow = std::chrono::milliseconds(1000);
    return timeouts;
}

}  // namespace

TEST(HttpClientBounds, ADrippingBodyEndsAfterTheMinimumRateWindowButASteadyOneArrives) {
    HttpTestServer server;
    Drip(server, "/drip", 100000, 1, std::chrono::milliseconds(50));  // 20 bytes/s
    Drip(server, "/steady", 700, 20, std::chrono::milliseconds(50));  // 400 bytes/s
    HttpClient http(QuickMinimumRate());

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { http.Get(Url(server, "/drip"), 1 << 20); }), "Read timed out.");
    const auto dripped = std::chrono::steady_clock::now() - start;
    EXPECT_GE(dripped, std::chrono::milliseconds(1000));
    EXPECT_LT(dripped, std::chrono::seconds(4));

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(http.Get(Url(server, "/steady"), 1 << 20), std::string(700, 'd'));
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST(HttpClientWait, TheWaitPassRunsThroughoutARequestAndItsExceptionEndsTheRequest) {
    HttpTestServer server;
    Drip(server, "/slow", 10, 1, std::chrono::milliseconds(60));
    HttpClient http;
    std::vector<std::chrono::steady_clock::time_point> passes;
    http.SetWaitPass([&] { passes.push_back(std::chrono::steady_clock::now()); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(http.Get(Url(server, "/slow"), 100), std::string(10, 'd'));
    const auto end = std::chrono::steady_clock::now();
    ASSERT_GE(passes.size(), 5u);
    auto longest = passes.front() - start;
    for (std::size_t i = 1; i < passes.size(); ++i) {
        longest = std::max(longest, passes[i] - passes[i - 1]);
    }
    longest = std::max(longest, end - passes.back());
    // 50 ms as designed, with room for a loaded machine.
    EXPECT_LT(longest, std::chrono::milliseconds(150));

    // A server that accepts and never answers: the pass ends the wait.
    server.Handle("/never", [&server](const httplib::Request&, httplib::Response& response) {
        for (int i = 0; i < 400 && !server.Stopping(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        response.set_content("late", "text/plain");
    });
    std::vector<int> codes;
    http.SetOnStatus([&](int code, const std::string&) { codes.push_back(code); });
    const auto asked = std::chrono::steady_clock::now();
    http.SetWaitPass([&] {
        if (std::chrono::steady_clock::now() - asked > std::chrono::milliseconds(200)) {
            throw std::logic_error("window closing");
        }
    });
    EXPECT_THROW(http.Get(Url(server, "/never"), 100), std::logic_error);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(700));
    // The dropped connection went without a word; the next request connects afresh.
    EXPECT_TRUE(codes.empty());
    http.SetWaitPass(nullptr);
    EXPECT_EQ(http.Get(Url(server, "/slow"), 100), std::string(10, 'd'));
    EXPECT_THAT(codes, ElementsAre(0, 1, 2));
}

TEST(TransferWatch, AveragesOverTheLastWindowAndCountsFromTheRequest) {
    using namespace std::chrono_literals;
    const TransferWatch::Clock::time_point t0{};
    TransferWatch watch(60s, 10s, 100);
    EXPECT_FALSE(watch.Expired(t0 + 100s));  // nothing asked yet
    watch.Start(t0);
    // A fast start buys nothing once a window has passed without enough bytes.
    watch.Received(t0 + 1s, 5000);
    for (int s = 2; s <= 11; ++s) {
        watch.Received(t0 + std::chrono::seconds(s), 10);
        EXPECT_FALSE(watch.Expired(t0 + std::chrono::seconds(s))) << s;
    }
    bool expired = false;
    for (int s = 12; s <= 13 && !expired; ++s) {
        watch.Received(t0 + std::chrono::seconds(s), 10);
        expired = watch.Expired(t0 + std::chrono::seconds(s));
    }
    EXPECT_TRUE(expired);

    // Exactly the minimum rate is enough.
    TransferWatch steady(3s, 10s, 100);
    steady.Start(t0);
    for (int ms = 100; ms <= 30000; ms += 100) {
        steady.Received(t0 + std::chrono::milliseconds(ms), 10);
        ASSERT_FALSE(steady.Expired(t0 + std::chrono::milliseconds(ms))) << ms;
    }

    // The stall bound holds by itself; a new request starts both bounds afresh.
    TransferWatch stall(3s, 10s, 0);
    stall.Start(t0);
    stall.Received(t0 + 1s, 1);
    EXPECT_FALSE(stall.Expired(t0 + 3900ms));
    EXPECT_TRUE(stall.Expired(t0 + 4000ms));
    stall.Start(t0 + 5s);
    EXPECT_FALSE(stall.Expired(t0 + 7s));
}
