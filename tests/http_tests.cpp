// HttpGetBytes against the local server that http_server.py starts.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "runtime/HttpUtil.h"

namespace {

Text Url(const char* portVariable, const Text& path) {
    const char* port = std::getenv(portVariable);
    return port ? "http://127.0.0.1:" + Text(port) + path : Text();
}
Text Page(const Text& path) { return Url("VELMORA_HTTP_PORT", path); }

Bytes Pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(i % 251);
    return b;
}

class HttpGet : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("VELMORA_HTTP_PORT")) GTEST_SKIP() << "run by http_server.py";
    }
};

TEST_F(HttpGet, ErrorPagesReturnTheirBody) {
    EXPECT_EQ(BytesToText(HttpGetBytes(Page("/notfound"))), "<html>no such page</html>");
}

TEST_F(HttpGet, BodiesWithAndWithoutContentLengthArriveWhole) {
    for (std::size_t n : {1u, 10240u, 10241u, 102399u, 102400u, 102401u, 300000u}) {
        EXPECT_EQ(HttpGetBytes(Page("/length/" + std::to_string(n))), Pattern(n)) << n;
        EXPECT_EQ(HttpGetBytes(Page("/nolength/" + std::to_string(n))), Pattern(n)) << n;
    }
    EXPECT_TRUE(HttpGetBytes(Page("/length/0")).empty());
}

TEST_F(HttpGet, ALengthOfFourGigabytesDoesNotStopTheRead) {
    // Content-Length 4294967295: one more would wrap the read size to 0.
    EXPECT_EQ(HttpGetBytes(Page("/hugelength/5000")), Pattern(5000));
}

TEST_F(HttpGet, SendsAPlainHttp10GetAndDropsTheFragment) {
    const Text echo = BytesToText(HttpGetBytes(Page("/echo/a%20b?x=1&y=中#fragment")));
    EXPECT_EQ(echo.find("GET /echo/a%20b?x=1&y="), 0u) << echo;
    EXPECT_NE(echo.find(" HTTP/1.0\r\n"), Text::npos) << echo;
    EXPECT_NE(echo.find("Accept: */*"), Text::npos) << echo;
    EXPECT_NE(echo.find("MSIE 6.0"), Text::npos) << echo;
    EXPECT_EQ(echo.find("fragment"), Text::npos) << echo;
}

TEST_F(HttpGet, UnusableAddressesGiveTheEmptyByteSet) {
    EXPECT_TRUE(HttpGetBytes("").empty());
    EXPECT_TRUE(HttpGetBytes("not an address").empty());
    EXPECT_TRUE(HttpGetBytes("ftp://127.0.0.1/x").empty());
    EXPECT_TRUE(HttpGetBytes(Url("VELMORA_CLOSED_PORT", "/length/10")).empty());
}

TEST_F(HttpGet, ASilentServerTimesOutInsteadOfHanging) {
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_TRUE(HttpGetBytes(Page("/stall")).empty());
    const ULONGLONG waited = GetTickCount64() - t0;
    EXPECT_LT(waited, 3 * kHttpTimeoutMs) << "waited " << waited << " ms";

    const ULONGLONG t1 = GetTickCount64();
    // A read that times out loses its own buffer: what arrives is at most the
    // bytes of the reads that completed, and never bytes that were not sent.
    const Bytes partial = HttpGetBytes(Page("/stallbody"));
    EXPECT_LE(partial.size(), 100u);
    EXPECT_EQ(partial, Pattern(partial.size()));
    EXPECT_LT(GetTickCount64() - t1, 3 * kHttpTimeoutMs);
}

TEST_F(HttpGet, AnEndlessBodyStopsAtTheCap) {
    const Bytes body = HttpGetBytes(Page("/endless"));
    EXPECT_EQ(body.size(), kHttpMaxBodyBytes);
    EXPECT_EQ(Bytes(body.begin(), body.begin() + 1000), Pattern(1000));
}

}  // namespace
