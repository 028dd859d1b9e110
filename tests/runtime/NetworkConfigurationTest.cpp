#include "runtime/NetworkConfiguration.h"

#include "ScriptFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

// The stand-in network script prints read-output for "--read" and records
// each argument of any other call on a line of its own, in brackets.
class NetworkConfigurationTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox{false};
    std::string dir = sandbox.file("/usr/sbin");
    std::string readOutput = dir + "/read-output";
    std::string writeArgs = dir + "/write-args";

    void SetUp() override {
        mkdir((sandbox.path() + "/usr").c_str(), 0755);
        mkdir(dir.c_str(), 0755);
        rtmtest::writeScript(dir + "/tvl4700-network.sh",
                             "d=$(dirname \"$0\")\n"
                             "if [ \"$1\" = --read ]; then cat \"$d/read-output\"; exit 0; fi\n"
                             "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$d/write-args\"\n"
                             "exit 3\n");
        writeFile(readOutput, "static 10.0.0.5 255.255.255.0 10.0.0.1 10.0.0.2 x\n");
    }

    // A manual configuration that passes every check.
    void setValidManual(NetworkConfiguration& n) {
        n.setAddressMode(1);
        n.setIpAddress("10.0.0.5");
        n.setNetmask("255.255.255.0");
        n.setGateway("10.0.0.1");
        n.setDnsServer("8.8.8.8");
        n.setExtra("x");
    }
};

struct ReadCase {
    const char* output;
    int mode;
    const char* ip;
    const char* netmask;
    const char* gateway;
    const char* dns;
    const char* extra;
};

TEST_F(NetworkConfigurationTest, ReadsTheWordsOfTheScriptsFirstLine) {
    const ReadCase cases[] = {
        {"dhcp\n", 0, "169.254.15.181", "255.255.0.0", "169.254.1.1", "169.254.1.1", ""},
        {"static 10.0.0.5 255.255.255.0 10.0.0.1 10.0.0.2 x\n", 1, "10.0.0.5", "255.255.255.0", "10.0.0.1",
         "10.0.0.2", "x"},
        {"manual\t192.168.1.7  255.255.255.0\n", 1, "192.168.1.7", "255.255.255.0", "169.254.1.1",
         "169.254.1.1", ""},
        {"dhcp 1.2.3.4\nstatic 5.6.7.8 9.9.9.9 1.1.1.1 2.2.2.2 y\n", 0, "1.2.3.4", "255.255.0.0",
         "169.254.1.1", "169.254.1.1", ""},
        {"", 0, "169.254.15.181", "255.255.0.0", "169.254.1.1", "169.254.1.1", ""},
        {"\n", 0, "169.254.15.181", "255.255.0.0", "169.254.1.1", "169.254.1.1", ""},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.output);
        writeFile(readOutput, c.output);
        NetworkConfiguration n;
        EXPECT_EQ(n.getAddressMode(), c.mode);
        EXPECT_EQ(n.getIpAddress(), c.ip);
        EXPECT_EQ(n.getNetmask(), c.netmask);
        EXPECT_EQ(n.getGateway(), c.gateway);
        EXPECT_EQ(n.getDnsServer(), c.dns);
        EXPECT_EQ(n.getExtra(), c.extra);
    }
}

TEST_F(NetworkConfigurationTest, MissingScriptKeepsTheDefaults) {
    std::remove((dir + "/tvl4700-network.sh").c_str());
    NetworkConfiguration n;
    EXPECT_EQ(n.getAddressMode(), 0);
    EXPECT_EQ(n.getIpAddress(), "169.254.15.181");
    EXPECT_EQ(n.getDnsServer(), "169.254.1.1");
}

TEST_F(NetworkConfigurationTest, ManualApplyPassesSixWordsWithTheNetworkAddressAndIgnoresTheScriptStatus) {
    NetworkConfiguration n;
    setValidManual(n);
    testing::internal::CaptureStdout();
    EXPECT_EQ(n.apply(), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(writeArgs), "[--write]\n[10.0.0.5]\n[255.255.255.0]\n[10.0.0.0]\n[10.0.0.1]\n[8.8.8.8]\n[x]\n");
    EXPECT_EQ(out,
              "NetworkConfiguration::apply()\n"
              "cmd: /usr/sbin/tvl4700-network.sh --write 10.0.0.5 255.255.255.0 10.0.0.0 10.0.0.1 8.8.8.8 x\n"
              "rc = 3");
}

TEST_F(NetworkConfigurationTest, EmptyDnsServerIsAcceptedAndKeepsItsPlace) {
    NetworkConfiguration n;
    setValidManual(n);
    n.setDnsServer("");
    n.setExtra("");
    testing::internal::CaptureStdout();
    EXPECT_EQ(n.apply(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(writeArgs), "[--write]\n[10.0.0.5]\n[255.255.255.0]\n[10.0.0.0]\n[10.0.0.1]\n[]\n[]\n");
}

TEST_F(NetworkConfigurationTest, DhcpApplyChecksNoAddress) {
    NetworkConfiguration n;
    n.setAddressMode(0);
    n.setIpAddress("not an address");
    n.setGateway("; reboot");
    testing::internal::CaptureStdout();
    EXPECT_EQ(n.apply(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "NetworkConfiguration::apply()\ncmd: /usr/sbin/tvl4700-network.sh --write dhcp\nrc = 3");
    EXPECT_EQ(readFile(writeArgs), "[--write]\n[dhcp]\n");
}

TEST_F(NetworkConfigurationTest, ShellSyntaxInTheExtraWordReachesTheScriptAsPlainText) {
    NetworkConfiguration n;
    setValidManual(n);
    n.setExtra("$(touch${IFS}pwned);`id`");
    testing::internal::CaptureStdout();
    EXPECT_EQ(n.apply(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(writeArgs),
              "[--write]\n[10.0.0.5]\n[255.255.255.0]\n[10.0.0.0]\n[10.0.0.1]\n[8.8.8.8]\n[$(touch${IFS}pwned);`id`]\n");
}

struct InvalidCase {
    const char* ip;
    const char* netmask;
    const char* gateway;
    const char* dns;
    const char* extra;
    int bits;
    const char* messages;
};

TEST_F(NetworkConfigurationTest, InvalidFieldsReturnTheirBitsAndRunNothing) {
    const InvalidCase cases[] = {
        {"10.0.0.x", "255.255.255.0", "bad", "8.8.8.8", "x", 5,
         "Invalid IP address: 10.0.0.x(0)\nInvalid Gateway: bad\n"},
        {"10.0.0.5", "", "10.0.0.1", "8.8.8.8", "x", 2, "Invalid Netmask: \n"},
        {"10.0.0.5", "255.255.255.0", "10.0.0.1", "dns.example", "x", 8, ""},
        // inet_aton alone would take the address and ignore what follows the blank
        {"10.0.0.5 ; reboot", "255.255.255.0", "10.0.0.1", "8.8.8.8", "x", 1,
         "Invalid IP address: 10.0.0.5 ; reboot(0)\n"},
        {"10.0.0.5", "255.255.255.0\n", "10.0.0.1", "8.8.8.8 1", "x", 10, "Invalid Netmask: 255.255.255.0\n\n"},
        {"10.0.0.5", "255.255.255.0", "10.0.0.1", "8.8.8.8", "two words", 16, ""},
        {"10.0.0.5", "255.255.255.0", "10.0.0.1", "8.8.8.8", "tab\there", 16, ""},
        {"", "", "", "x", "a b", 31,
         "Invalid IP address: (0)\nInvalid Netmask: \nInvalid Gateway: \n"},
    };
    for (const InvalidCase& c : cases) {
        SCOPED_TRACE(c.ip);
        NetworkConfiguration n;
        n.setAddressMode(2);
        n.setIpAddress(c.ip);
        n.setNetmask(c.netmask);
        n.setGateway(c.gateway);
        n.setDnsServer(c.dns);
        n.setExtra(c.extra);
        testing::internal::CaptureStdout();
        EXPECT_EQ(n.apply(), c.bits);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("NetworkConfiguration::apply()\n") + c.messages);
        EXPECT_FALSE(testsupport::exists(writeArgs));
        // the refused texts stay in the fields
        EXPECT_EQ(n.getIpAddress(), c.ip);
        EXPECT_EQ(n.getExtra(), c.extra);
    }
}

}  // namespace

namespace {

// With the sandbox's own stand-in script: what apply() writes, the next
// configuration reads back.
TEST(NetworkConfigurationStandIn, ManualSettingsRoundTripThroughTheScript) {
    testsupport::TempSandbox sandbox;
    if (!testsupport::exists(sandbox.file("/usr/sbin/tvl4700-network.sh")))
        GTEST_SKIP() << "the sandbox template has no network script";
    testing::internal::CaptureStdout();
    {
        NetworkConfiguration n;
        n.setAddressMode(1);
        n.setIpAddress("192.168.7.20");
        n.setNetmask("255.255.255.0");
        n.setGateway("192.168.7.1");
        n.setDnsServer("192.168.7.2");
        EXPECT_EQ(n.apply(), 0);
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("rc = 0"), std::string::npos) << out;
    NetworkConfiguration again;
    EXPECT_EQ(again.getAddressMode(), 1);
    EXPECT_EQ(again.getIpAddress(), "192.168.7.20");
    EXPECT_EQ(again.getNetmask(), "255.255.255.0");
    EXPECT_EQ(again.getGateway(), "192.168.7.1");
    EXPECT_EQ(again.getDnsServer(), "192.168.7.2");

    testing::internal::CaptureStdout();
    again.setAddressMode(0);
    EXPECT_EQ(again.apply(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(NetworkConfiguration().getAddressMode(), 0);
}

}  // namespace
