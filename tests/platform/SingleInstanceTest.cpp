#include "platform/instance/SingleInstance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/TestSupport.h"
#include "platform/thread/Event.h"

namespace platform {
namespace {

using testing_support::TempDir;

// Collects what the listener thread receives.
struct Inbox {
    void Add(std::uint32_t flags) {
        {
            std::lock_guard lock(mutex);
            received.push_back(flags);
        }
        arrived.Set();
    }
    std::vector<std::uint32_t> Received() {
        std::lock_guard lock(mutex);
        return received;
    }
    std::mutex mutex;
    std::vector<std::uint32_t> received;
    Event arrived;
};

TEST(SingleInstance, SecondInstanceHandsItsFlagsToTheOwner) {
    TempDir dir;
    SingleInstance first(L"Vokari", dir.Folder());
    ASSERT_EQ(first.Acquire(), SingleInstance::State::Owner);
    Inbox inbox;
    ASSERT_TRUE(first.Listen([&](std::uint32_t f) { inbox.Add(f); }));

    SingleInstance second(L"Vokari", dir.Folder());
    ASSERT_EQ(second.Acquire(), SingleInstance::State::AnotherRuns);
    EXPECT_TRUE(second.Notify(0x80000008u));
    ASSERT_TRUE(inbox.arrived.Wait(30000));
    EXPECT_TRUE(second.Notify(16));
    ASSERT_TRUE(inbox.arrived.Wait(30000));
    EXPECT_EQ(inbox.Received(), (std::vector<std::uint32_t>{0x80000008u, 16}));
    EXPECT_FALSE(first.Notify(1));  // the owner does not talk to itself
}

TEST(SingleInstance, OwnershipEndsWithTheOwner) {
    TempDir dir;
    {
        SingleInstance first(L"Vokari", dir.Folder());
        ASSERT_EQ(first.Acquire(), SingleInstance::State::Owner);
    }
    SingleInstance next(L"Vokari", dir.Folder());
    EXPECT_EQ(next.Acquire(), SingleInstance::State::Owner);
    // Another name is another instance.
    SingleInstance other(L"Other", dir.Folder());
    EXPECT_EQ(other.Acquire(), SingleInstance::State::Owner);
}

TEST(SingleInstance, StaleSocketFileDoesNotBlockTheNextOwner) {
    TempDir dir;
    // What a crashed owner leaves: a bound socket file nobody listens on.
    const std::string path = dir.File("Vokari.sock");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);

    SingleInstance owner(L"Vokari", dir.Folder());
    ASSERT_EQ(owner.Acquire(), SingleInstance::State::Owner);
    Inbox inbox;
    ASSERT_TRUE(owner.Listen([&](std::uint32_t f) { inbox.Add(f); }));
    SingleInstance second(L"Vokari", dir.Folder());
    ASSERT_EQ(second.Acquire(), SingleInstance::State::AnotherRuns);
    EXPECT_TRUE(second.Notify(8));
    ASSERT_TRUE(inbox.arrived.Wait(30000));
    EXPECT_EQ(inbox.Received(), std::vector<std::uint32_t>{8});
}

TEST(SingleInstance, NotifyWithoutAListenerGivesUp) {
    TempDir dir;
    SingleInstance first(L"Vokari", dir.Folder());
    ASSERT_EQ(first.Acquire(), SingleInstance::State::Owner);
    SingleInstance second(L"Vokari", dir.Folder());
    ASSERT_EQ(second.Acquire(), SingleInstance::State::AnotherRuns);
    // The owner accepts connections only once it listens; a message queued
    // before that is delivered when it starts.
    EXPECT_TRUE(second.Notify(4, 100));
    Inbox inbox;
    ASSERT_TRUE(first.Listen([&](std::uint32_t f) { inbox.Add(f); }));
    ASSERT_TRUE(inbox.arrived.Wait(30000));
    EXPECT_EQ(inbox.Received(), std::vector<std::uint32_t>{4});
    first.StopListening();
}

TEST(SingleInstance, UnusableFolderIsReported) {
    TempDir dir;
    SingleInstance s(L"Vokari", dir.Folder() + L"missing/");
    EXPECT_EQ(s.Acquire(), SingleInstance::State::Unavailable);
    EXPECT_FALSE(s.Notify(8, 0));
}

}  // namespace
}  // namespace platform
