// The search with its default address, the limited broadcast 255.255.255.255. Runs only inside
// the private network namespace that run_in_netns.sh makes, where the broadcast stays on the
// namespace's loopback interface.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "sim/simulator.h"
#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

constexpr std::uint16_t kSearchPort = 9000;

class BroadcastSearchTest : public DeviceFixture {
protected:
    void SetUp() override {
        if (std::getenv("TAVRIN_IN_TEST_NETNS") == nullptr)
            GTEST_SKIP() << "runs only inside the test's own network namespace (run_in_netns.sh)";
        DeviceFixture::SetUp();  // no settings file: the search goes to 255.255.255.255
        ASSERT_NE(sim_.addNetDevice({}, {{127, 0, 0, 1}, 0}), nullptr);
        // The device answers by broadcast too, so that every search on the port hears it.
        ASSERT_NE(sim_.startDiscovery({{0, 0, 0, 0}, kSearchPort}, {}, platform::Ipv4Endpoint{{255, 255, 255, 255}, kSearchPort}),
                  nullptr);
    }
    void TearDown() override {
        sim_.stop();
        if (lib_.api().OpenDev != nullptr) DeviceFixture::TearDown();
    }
    std::vector<std::u16string> search() {
        std::vector<tavrin_wchar_t> buf(256, 0);
        std::uint32_t size = 256;
        const std::uint32_t count = lib_->EnumDevPath(PORT_NET_DATA, buf.data(), &size, kSearchPort, 0);
        std::vector<std::u16string> paths;
        for (std::size_t at = 0; paths.size() < count;) {
            paths.emplace_back(reinterpret_cast<const char16_t*>(&buf[at]));
            at += paths.back().size() + 1;
        }
        return paths;
    }
    sim::Simulator sim_;
};

TEST_F(BroadcastSearchTest, FindsTheDeviceByBroadcast) {
    const auto paths = search();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], sim_.device(0).networkPath());
}

TEST_F(BroadcastSearchTest, TwoSearchesAtOnceBothFindTheDevice) {
    std::vector<std::u16string> other;
    std::thread second([&] { other = search(); });
    const auto mine = search();
    second.join();
    const std::u16string path = sim_.device(0).networkPath();
    ASSERT_FALSE(mine.empty());
    ASSERT_FALSE(other.empty());
    for (const auto& p : mine) EXPECT_EQ(p, path);  // each search hears every answer
    for (const auto& p : other) EXPECT_EQ(p, path);
    EXPECT_FALSE(logHas(flushLog(), u"bind failed"));
}

}  // namespace
}  // namespace tavrin::test
