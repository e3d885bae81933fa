#include <ifaddrs.h>
#include <net/if.h>

#include "platform/system/system.h"
#include "tests/tweak/fixture.h"
#include "tweak/info/info.h"

using namespace vantrel;
using namespace vantrel::test;
using platform::DeviceInterface;

namespace {

class InfoTest : public TweakTest {
protected:
    void SetUp() override {
        TweakTest::SetUp();
        platform::setSystemSource(platform::deviceSystem());
    }
    void TearDown() override {
        platform::setSystemSource(platform::deviceSystem());
        TweakTest::TearDown();
    }
    static void interfaces(std::vector<DeviceInterface> rows) { platform::deviceState().interfaces = std::move(rows); }
    static std::string ip(bool preferIPv4) { return msgSend<std::string>(aggregator(), tweak::sel("getIPAddress:"), preferIPv4); }
    static std::string dataIP() { return msgSend<std::string>(aggregator(), tweak::sel("getDataIPAddress:"), true); }
    static std::optional<tweak::AddressTable> table() {
        return msgSend<std::optional<tweak::AddressTable>>(aggregator(), tweak::sel("getIPAddresses"));
    }
    static std::string nowPlaying() { return msgSend<std::string>(aggregator(), tweak::sel("nowPlayingString")); }
};

TEST_F(InfoTest, WifiNameOrFallback) {
    EXPECT_EQ(currentWifiSSID(), "Quennick Home");
    platform::deviceState().wifiNetwork = "";
    EXPECT_EQ(currentWifiSSID(), "");
    platform::deviceState().wifiNetwork.reset();
    EXPECT_EQ(currentWifiSSID(), "No WiFi Connected");
}

TEST_F(InfoTest, PreferredAddressSearchOrder) {
    interfaces({{"en0", "ipv6", "fe80::1"}, {"en0", "ipv4", "192.168.1.20"}, {"pdp_ip0", "ipv4", "10.0.0.9"}});
    EXPECT_EQ(ip(true), "192.168.1.20");
    EXPECT_EQ(ip(false), "fe80::1");

    // Wi-Fi off, cellular IPv4 only.
    interfaces({{"en0", "none", ""}, {"pdp_ip0", "ipv4", "10.0.0.9"}});
    EXPECT_EQ(ip(true), "10.0.0.9");
    EXPECT_EQ(ip(false), "10.0.0.9");

    // Airplane mode: only loopback, a tunnel and a down interface.
    interfaces(
        {{"lo0", "ipv4", "127.0.0.1", true, true}, {"utun0", "ipv4", "10.8.0.2"}, {"en0", "ipv4", "192.168.1.20", false, false}});
    EXPECT_EQ(ip(true), "No WiFi Connected");
    EXPECT_EQ(table(), (tweak::AddressTable{{"utun0/ipv4", "10.8.0.2"}}));
}

TEST_F(InfoTest, AddressTableKeepsTheLastOfAFamilyAndSkipsDownAndLoopback) {
    interfaces({{"lo0", "ipv6", "::1", true, true},
                {"en0", "link", ""},
                {"en0", "ipv6", "fe80::1"},
                {"en0", "ipv6", "2001:db8::7"},
                {"en0", "ipv4", "192.168.1.20"},
                {"awdl0", "ipv6", "fe80::9", false, false},
                {"pdp_ip0", "none", ""}});
    EXPECT_EQ(table(), (tweak::AddressTable{{"en0/ipv4", "192.168.1.20"}, {"en0/ipv6", "2001:db8::7"}}));
    EXPECT_EQ(ip(false), "2001:db8::7");

    interfaces({{"lo0", "ipv4", "127.0.0.1", true, true}, {"en0", "ipv4", "192.168.1.20", false, false}});
    EXPECT_FALSE(table());  // absent, not an empty table
    interfaces({});
    EXPECT_FALSE(table());
}

TEST_F(InfoTest, DataAddressKeepsTheLastMatchWhateverItsFamilyOrFlags) {
    interfaces({{"pdp_ip0", "ipv4", "10.0.0.9"}, {"pdp_ip0", "ipv6", "2001:db8::c"}});
    EXPECT_EQ(dataIP(), "2001:db8::c");
    interfaces({{"pdp_ip0", "ipv6", "2001:db8::c"}, {"pdp_ip0", "ipv4", "10.0.0.9"}});
    EXPECT_EQ(dataIP(), "10.0.0.9");
    interfaces({{"pdp_ip0", "ipv4", "10.0.0.9", false, false}, {"pdp_ip0", "none", ""}});
    EXPECT_EQ(dataIP(), "10.0.0.9");
    interfaces({{"en0", "ipv4", "192.168.1.20"}});
    EXPECT_EQ(dataIP(), "No Cellular Data");
    interfaces({});
    EXPECT_EQ(dataIP(), "No Cellular Data");
}

TEST_F(InfoTest, UnreadableInterfaceListGivesBothFallbacks) {
    platform::deviceState().interfacesReadable = false;
    EXPECT_FALSE(table());
    EXPECT_EQ(ip(true), "No WiFi Connected");
    EXPECT_EQ(dataIP(), "No Cellular Data");
}

TEST_F(InfoTest, DeviceListIsAGenuineIfaddrsChain) {
    struct ifaddrs* list = nullptr;
    ASSERT_EQ(platform::getInterfaceAddresses(&list), 0);
    int entries = 0, loopbacks = 0, withoutAddress = 0;
    for (auto* e = list; e; e = e->ifa_next) {
        ++entries;
        loopbacks += (e->ifa_flags & IFF_LOOPBACK) != 0;
        withoutAddress += e->ifa_addr == nullptr;
    }
    EXPECT_EQ(entries, static_cast<int>(platform::deviceState().interfaces.size()));
    EXPECT_EQ(loopbacks, 2);
    EXPECT_EQ(withoutAddress, 0);
    // The device as it starts: every interface that is up and no loopback, the tunnel included.
    EXPECT_EQ(tweak::addressTable(list), (tweak::AddressTable{{"en0/ipv4", "192.168.1.20"},
                                                              {"en0/ipv6", "fe80::1c2b:3a4d:5e6f:7081"},
                                                              {"pdp_ip0/ipv4", "10.64.12.7"},
                                                              {"utun0/ipv6", "fd00:a::2"}}));
    // The source may change between reading and freeing; the matching free is still chosen.
    platform::setSystemSource(platform::machineSystem());
    platform::freeInterfaceAddresses(list);
}

TEST_F(InfoTest, MachineSourceReadsTheRealListAndMemory) {
    platform::setSystemSource(platform::machineSystem());
    struct ifaddrs* list = nullptr;
    ASSERT_EQ(platform::getInterfaceAddresses(&list), 0);
    auto found = tweak::addressTable(list);
    platform::setSystemSource(platform::deviceSystem());
    platform::freeInterfaceAddresses(list);
    if (found) {
        for (const auto& [key, address] : *found) EXPECT_NE(key.rfind("lo/", 0), 0u) << key;
    }
    platform::setSystemSource(platform::machineSystem());
    platform::VMStatistics64 stats;
    EXPECT_TRUE(platform::hostStatistics64(&stats));
    EXPECT_GT(getAvailableMemory(), 0);
}

TEST_F(InfoTest, MemoryInBothForms) {
    EXPECT_EQ(tweak::availableMemory32(1000, 3000, 4096), 15);
    EXPECT_EQ(tweak::availableMemory64(1000, 3000, 16384), 15u);
    EXPECT_EQ(tweak::availableMemory32(100, 100, 4096), 0);  // below 1 MiB
    EXPECT_EQ(tweak::availableMemory64(100, 100, 16384), 0u);
    // 2 GiB and more: the 32-bit form no longer wraps.
    EXPECT_EQ(tweak::availableMemory32(524288, 262144, 4096), 3072);
    EXPECT_EQ(tweak::availableMemory32(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), INT32_MAX);
    EXPECT_EQ(tweak::availableMemory64(786432, 0, 16384), 3072u);

    // Through the host: the device's whole pages, whatever form the process reads.
    platform::deviceState().memory = {16384, 640, 320, true};
    EXPECT_EQ(getAvailableMemory(), 15);
    platform::deviceState().memory = {16384, 200000, 100000, true};
    EXPECT_EQ(getAvailableMemory(), 4687);
    platform::deviceState().memory.readable = false;
    EXPECT_EQ(getAvailableMemory(), 0);
}

TEST_F(InfoTest, NowPlayingTogglesAndReplacesQuotes) {
    auto& d = platform::deviceState();
    d.nowPlayingTitle = "Don't Stop 'Til";
    EXPECT_EQ(nowPlaying(), "Don`t Stop `Til");
    msgSend<void>(aggregator(), tweak::sel("toggleNowPlayingString"));
    EXPECT_EQ(nowPlaying(), "The Quennicks");
    d.nowPlayingArtist.reset();
    d.nowPlayingTitle.reset();
    EXPECT_EQ(nowPlaying(), "Unknown Artist");
    msgSend<void>(aggregator(), tweak::sel("toggleNowPlayingString"));
    EXPECT_EQ(nowPlaying(), "Unknown Track");
    d.nowPlayingTitle = "";
    EXPECT_EQ(nowPlaying(), "");
}

}  // namespace
