#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/net/Socket.h"
#include "platform/thread/Event.h"

using platform::NetStatus;

namespace {

struct Pair {
    platform::TcpListener listener;
    platform::TcpSocket client;
    platform::TcpSocket server;

    Pair() {
        EXPECT_TRUE(listener.Listen("127.0.0.1", 0));
        EXPECT_EQ(client.Connect("127.0.0.1", listener.Port(), nullptr, 5000), NetStatus::Ok);
        EXPECT_EQ(listener.Accept(server, nullptr, 5000), NetStatus::Ok);
    }
};

}  // namespace

TEST(NetSocket, CarriesBytesBothWaysAndReportsTheEnd) {
    Pair p;
    EXPECT_EQ(p.client.PeerAddress(), "127.0.0.1");
    EXPECT_EQ(p.client.SendAll(std::string_view("hello"), nullptr, 1000), NetStatus::Ok);
    char buffer[16];
    std::size_t n = 0;
    ASSERT_EQ(p.server.Receive(buffer, n, nullptr, 5000), NetStatus::Ok);
    EXPECT_EQ(std::string(buffer, n), "hello");
    p.server.Close();
    EXPECT_EQ(p.client.Receive(buffer, n, nullptr, 5000), NetStatus::Closed);
    // Writing to a closed peer fails instead of raising SIGPIPE.
    NetStatus s = NetStatus::Ok;
    const std::string block(65536, 'x');
    for (int i = 0; i < 50 && s == NetStatus::Ok; ++i) {
        s = p.client.SendAll(block, nullptr, 1000);
    }
    EXPECT_EQ(s, NetStatus::Failed);
}

TEST(NetSocket, ReceiveEndsOnTimeOutStopOrAbort) {
    Pair p;
    char buffer[16];
    std::size_t n = 0;
    EXPECT_EQ(p.client.Receive(buffer, n, nullptr, 50), NetStatus::TimedOut);

    platform::Event stop(platform::Event::Mode::ManualReset);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.Set();
    });
    EXPECT_EQ(p.client.Receive(buffer, n, &stop, -1), NetStatus::Stopped);
    setter.join();

    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        p.client.Abort();
    });
    // Without a stop event and without a time-out only Abort() can end it.
    EXPECT_EQ(p.client.Receive(buffer, n, nullptr, -1), NetStatus::Stopped);
    aborter.join();
}

TEST(NetSocket, ConnectFailuresAreReported) {
    platform::TcpListener gone;
    ASSERT_TRUE(gone.Listen());
    const std::uint16_t port = gone.Port();
    gone.Close();
    platform::TcpSocket s;
    EXPECT_EQ(s.Connect("127.0.0.1", port, nullptr, 5000), NetStatus::Failed);
    EXPECT_EQ(s.Connect("", 80, nullptr, 5000), NetStatus::Failed);
    EXPECT_EQ(s.Connect("127.0.0.1", 0, nullptr, 5000), NetStatus::Failed);
    platform::Event stop(platform::Event::Mode::ManualReset, true);
    platform::TcpListener open;
    ASSERT_TRUE(open.Listen());
    // A connection may complete at once on loopback; a set stop must never
    // make it hang either way.
    const NetStatus r = s.Connect("127.0.0.1", open.Port(), &stop, 5000);
    EXPECT_TRUE(r == NetStatus::Ok || r == NetStatus::Stopped);
}

TEST(NetSocket, ListensOnIpv6Loopback) {
    platform::TcpListener listener;
    if (!listener.Listen("::1", 0)) {
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    platform::TcpSocket client;
    EXPECT_EQ(client.Connect("[::1]", listener.Port(), nullptr, 5000), NetStatus::Ok);
    EXPECT_EQ(client.PeerAddress(), "::1");
}
