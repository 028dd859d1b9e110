// Path mapping, the command runner and the stand-in commands, the clock
// offset, tone counting and atomic file writes of the PC build.
#include "platform/CanTransport.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>
#include <fstream>
#include <thread>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

bool exists(const std::string& file) {
    struct stat st;
    return lstat(file.c_str(), &st) == 0;
}

void writeScript(const testsupport::TempSandbox& box, const std::string& instrumentPath, const std::string& body) {
    writeFile(box.file(instrumentPath), "#!/bin/sh\n" + body);
    chmod(box.file(instrumentPath).c_str(), 0755);
}

TEST(PlatformPaths, EveryInstrumentPathMapsIntoTheSandbox) {
    testsupport::TempSandbox box;
    const std::string root = box.path();
    struct Case {
        std::string in, out;
    } cases[] = {
        {platform::path::kDataDir, root + "/var/lib/tarvel"},
        {platform::path::kDatalogDir, root + "/var/www/datalogs"},
        {platform::path::kSerialPort, root + "/dev/ttyS0"},
        {platform::path::kGpibPort, root + "/dev/gpib"},
        {platform::path::kConsoleTty, root + "/dev/tty10"},
        {platform::path::kMounts, root + "/proc/mounts"},
        {platform::path::kShutdown, root + "/sbin/shutdown"},
        {platform::path::kHwclock, root + "/sbin/hwclock"},
        {platform::path::kIfconfig, root + "/sbin/ifconfig"},
        {platform::path::kRm, root + "/bin/rm"},
        {platform::path::kRunDir, root + "/run/tvl"},
        {"/usr/sbin/tvl4700-network.sh", root + "/usr/sbin/tvl4700-network.sh"},
        {"/sys/class/net/can0/can_bittiming/bitrate", root + "/sys/class/net/can0/can_bittiming/bitrate"},
        // Parent references never climb out of the sandbox.
        {"/var/www/datalogs/../../../../etc/passwd", root + "/etc/passwd"},
        {"/..", root},
        {"var//lib/./tarvel/", root + "/var/lib/tarvel"},
        // A path already inside the sandbox stays as it is.
        {root + "/var/lib/tarvel/bp", root + "/var/lib/tarvel/bp"},
        // The CPU counters are the host's.
        {platform::path::kProcStat, "/proc/stat"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::resolve(c.in), c.out) << c.in;
    EXPECT_EQ(platform::dataFile("bp"), root + "/var/lib/tarvel/bp");
    EXPECT_EQ(platform::dataFile("../../../etc/x"), root + "/etc/x");
    EXPECT_EQ(platform::script("tvlCLI.sh"), root + "/usr/sbin/tvlCLI.sh");
    EXPECT_EQ(platform::canBitrateFile("can0"), root + "/sys/class/net/can0/can_bittiming/bitrate");
    EXPECT_FALSE(platform::isInstrumentBuild());
}

// Runs consumeSandboxOption in the current directory on a copy of args.
std::vector<std::string> consume(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = platform::consumeSandboxOption(int(args.size()), argv.data());
    std::vector<std::string> left;
    for (int i = 0; i < argc; ++i) left.push_back(argv[i]);
    EXPECT_EQ(argv[argc], nullptr);
    return left;
}

// Changes the current directory for a test's span.
struct InDirectory {
    explicit InDirectory(const std::string& dir) {
        EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~InDirectory() { EXPECT_EQ(chdir(previous), 0); }
    char previous[4096];
};

TEST(PlatformPaths, PlatformOptionsAreTakenOffTheCommandLine) {
    testsupport::TempSandbox box;
    const std::string sub = box.path() + "/rel/dir";
    ASSERT_TRUE(platform::makeDirs(sub));
    ASSERT_TRUE(platform::markSandbox(sub));
    InDirectory here(box.path());
    EXPECT_EQ(consume({"prog", "-can", "-sandbox", "rel/dir", "vcan0", "-x"}),
              (std::vector<std::string>{"prog", "-can", "vcan0", "-x"}));
    EXPECT_EQ(platform::sandboxRoot(), sub);  // made absolute
    EXPECT_EQ(platform::canBackend(), platform::CanBackend::Emulated);
    EXPECT_EQ(consume({"prog", "-socketcan", "vcan0"}), (std::vector<std::string>{"prog", "vcan0"}));
    EXPECT_EQ(platform::canBackend(), platform::CanBackend::SocketCan);
    platform::setCanBackend(platform::CanBackend::Emulated);
}

TEST(PlatformPathsDeathTest, FoldersThatAreNoSandboxAreRefused) {
    testsupport::TempSandbox box;
    const std::string plain = box.path() + "/plain";
    ASSERT_TRUE(platform::makeDirs(plain));
    ASSERT_EQ(symlink("/", (box.path() + "/toRoot").c_str()), 0);
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"prog", "-sandbox", "/"}, "refusing the sandbox /: the folder is the root folder"},
        {{"prog", "-sandbox", "/tmp/.."}, "refusing the sandbox /tmp/..: the folder is the root folder"},
        {{"prog", "-sandbox", box.path() + "/toRoot"}, "the folder is the root folder"},
        {{"prog", "-sandbox", box.path() + "/missing"}, "missing: no such folder"},
        {{"prog", "-sandbox", plain}, "plain: not a sandbox: it has no .tvl-sandbox file"},
        {{"prog", "-sandbox"}, "-sandbox needs a folder"},
    };
    for (const auto& c : cases) EXPECT_EXIT(consume(c.args), ::testing::ExitedWithCode(2), c.message) << c.args.back();
    EXPECT_FALSE(exists(box.path() + "/missing"));  // never made on the way
    EXPECT_EQ(platform::sandboxProblem(box.path()), "");
}

// Timer and reader threads go on mapping paths while the process exits:
// exit must not free the sandbox root under them (the sanitizer build sees
// the freed text being read).
TEST(PlatformPathsDeathTest, SandboxRootOutlivesExit) {
    testsupport::TempSandbox box;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atomic<bool> mapping{false};
            std::thread([&mapping] {
                for (;;) {
                    if (platform::dataFile("bp").empty()) std::abort();
                    mapping = true;
                }
            }).detach();
            while (!mapping) {
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(PlatformFiles, WriteFileAtomicReplacesWholeFiles) {
    testsupport::TempSandbox box;
    std::string dir = platform::resolve("/var/lib/tarvel/deep/er");
    ASSERT_TRUE(platform::makeDirs(dir));
    std::string file = dir + "/bp";
    ASSERT_TRUE(platform::writeFileAtomic(file, "a: 1\n"));
    EXPECT_EQ(readFile(file), "a: 1\n");
    chmod(file.c_str(), 0640);
    ASSERT_TRUE(platform::writeFileAtomic(file, "b: 2\nc: 3\n"));
    EXPECT_EQ(readFile(file), "b: 2\nc: 3\n");
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the file keeps its mode
    // No temporary file is left beside it.
    std::string out;
    EXPECT_FALSE(platform::writeFileAtomic(dir + "/missing/bp", "x"));
    int n = 0;
    for (const char* name : {"bp"}) n += exists(dir + "/" + name);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(system(("test $(ls -A " + dir + " | wc -l) -eq 1").c_str()), 0);
}

// Only what an atomic write of that very file leaves (its name, ".tmp" and
// mkstemp's six letters or digits, a plain file) is taken away.
TEST(PlatformFiles, StaleTemporaryFilesOfAFileAreRemoved) {
    testsupport::TempSandbox box;
    const std::string dir = platform::resolve("/var/lib/tarvel");
    struct Case {
        const char* name;
        bool removed;
    };
    const Case cases[] = {
        {"bp.tmpAb3xZ9", true},    {"bp.tmp000000", true},   {"bp", false},
        {"bp.tmpAb3xZ", false},    {"bp.tmpAb3xZ90", false}, {"bp.tmpAb-xZ9", false},
        {"xbp.tmpAb3xZ9", false},  {"ch1.tmpAb3xZ9", false}, {"bp.tmp", false},
        {"bp.bakAb3xZ9", false},
    };
    for (const Case& c : cases) writeFile(dir + "/" + c.name, "x\n");
    ASSERT_TRUE(platform::makeDirs(dir + "/bp.tmpFolder"));
    ASSERT_EQ(symlink((dir + "/bp").c_str(), (dir + "/bp.tmpLinked").c_str()), 0);

    platform::removeStaleTempFiles(dir + "/bp");
    for (const Case& c : cases) EXPECT_EQ(exists(dir + "/" + c.name), !c.removed) << c.name;
    EXPECT_TRUE(exists(dir + "/bp.tmpFolder")) << "a folder is no temporary file";
    EXPECT_TRUE(exists(dir + "/bp.tmpLinked")) << "nor is a link";
}

TEST(PlatformCommands, ArgumentsReachTheCommandWithoutAShell) {
    testsupport::TempSandbox box;
    writeScript(box, "/usr/sbin/args.sh", "for a in \"$@\"; do echo \"[$a]\"; done\nexit 3\n");
    std::string marker = box.path() + "/pwned";
    std::string output;
    int rc = platform::runCommandOutput({platform::script("args.sh"), "a b", "; touch " + marker, "$(touch " + marker + ")",
                                         "`touch " + marker + "`", "*", ""},
                                        output);
    EXPECT_EQ(rc, 3);  // the exit status, not the wait status
    EXPECT_EQ(output, "[a b]\n[; touch " + marker + "]\n[$(touch " + marker + ")]\n[`touch " + marker + "`]\n[*]\n[]\n");
    EXPECT_FALSE(exists(marker));
    // The instrument path is resolved as well.
    EXPECT_EQ(platform::runCommand({"/usr/sbin/args.sh"}), 3);
}

TEST(PlatformCommands, LongOutputIsCollectedWhole) {
    testsupport::TempSandbox box;
    // More than a pipe holds, so the runner must read while the command runs.
    writeScript(box, "/usr/sbin/long.sh", "i=0\nwhile [ $i -lt 4000 ]; do echo \"line $i of a long output...........\"; i=$((i+1)); done\n");
    std::string output;
    ASSERT_EQ(platform::runCommandOutput({"/usr/sbin/long.sh"}, output), 0);
    EXPECT_GT(output.size(), 100000u);
    EXPECT_EQ(output.substr(output.size() - 38), "line 3999 of a long output...........\n");
}

// tvl4700 blocks its stop signals in every thread: the commands it runs
// must not inherit that (a program that is not a shell, which would unblock
// them itself, would never end on SIGTERM).
TEST(PlatformCommands, CommandsStartWithNoSignalBlocked) {
    testsupport::TempSandbox box;
    const std::string cat = box.file("/usr/sbin/cat");
    {
        std::ifstream in("/bin/cat", std::ios::binary);
        std::ofstream out(cat, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(chmod(cat.c_str(), 0755), 0);
    sigset_t stop, old;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, &old);
    std::string status;
    const int exitStatus = platform::runCommandOutput({"/usr/sbin/cat", "/proc/self/status"}, status);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    EXPECT_EQ(exitStatus, 0);
    const std::string::size_type line = status.find("SigBlk:");
    ASSERT_NE(line, std::string::npos) << status;
    EXPECT_EQ(status.substr(line, status.find('\n', line) - line), "SigBlk:\t0000000000000000");
}

TEST(PlatformCommands, NothingOutsideTheSandboxRuns) {
    testsupport::TempSandbox box;
    std::string marker = box.path() + "/ran";
    // /bin/touch maps to the sandbox, where there is none.
    EXPECT_EQ(platform::runCommand({"/usr/bin/touch", marker}), -1);
    // A link inside the sandbox to a host program is refused.
    platform::makeDirs(box.file("/sbin"));
    ASSERT_EQ(symlink("/usr/bin/touch", box.file("/sbin/evil").c_str()), 0);
    EXPECT_EQ(platform::runCommand({"/sbin/evil", marker}), -1);
    EXPECT_FALSE(exists(marker));
    // A file that is not executable cannot be started.
    writeFile(box.file("/sbin/plain"), "#!/bin/sh\n");
    chmod(box.file("/sbin/plain").c_str(), 0644);
    EXPECT_EQ(platform::runCommand({"/sbin/plain"}), -1);
    EXPECT_EQ(platform::runCommand({}), -1);
}

TEST(StandIns, SystemCommandsOnlyLogTheirCalls) {
    testsupport::TempSandbox box;
    EXPECT_EQ(platform::runCommand({platform::path::kShutdown, "-h", "now"}), 0);
    EXPECT_EQ(platform::runCommand({platform::path::kHwclock, "--systohc"}), 0);
    EXPECT_EQ(platform::runCommand({platform::path::kIfconfig, "can0", "down"}), 0);
    EXPECT_EQ(platform::runCommand({platform::script("tvlCLI.sh")}), 0);
    EXPECT_EQ(platform::runCommand({platform::script("tvl4700-update.sh")}), 0);
    EXPECT_EQ(platform::runCommand({platform::script("tvl4700-usb-update.sh")}), 0);
    EXPECT_EQ(readFile(box.file("/var/log/standin.log")),
              "shutdown -h now\nhwclock --systohc\nifconfig can0 down\ntvlCLI.sh \ntvl4700-update.sh \n"
              "tvl4700-usb-update.sh \n");
}

TEST(StandIns, NetworkScriptReadsBackWhatWasWritten) {
    testsupport::TempSandbox box;
    const std::string net = platform::script("tvl4700-network.sh");
    std::string out;
    EXPECT_EQ(platform::runCommandOutput({net, "--read"}, out), 0);
    EXPECT_EQ(out, "dhcp 169.254.15.181 255.255.0.0 169.254.1.1 169.254.1.1\n");
    EXPECT_EQ(platform::runCommand({net, "--write", "10.0.0.5", "255.255.255.0", "10.0.0.0", "10.0.0.1", "10.0.0.2", "x"}), 0);
    EXPECT_EQ(platform::runCommandOutput({net, "--read"}, out), 0);
    EXPECT_EQ(out, "static 10.0.0.5 255.255.255.0 10.0.0.1 10.0.0.2 x\n");
    EXPECT_EQ(platform::runCommand({net, "--write", "dhcp"}), 0);
    EXPECT_EQ(platform::runCommandOutput({net, "--read"}, out), 0);
    EXPECT_EQ(out, "dhcp 10.0.0.5 255.255.255.0 10.0.0.1 10.0.0.2 x\n");
    EXPECT_NE(platform::runCommand({net, "--write", "1.2.3.4"}), 0);
    EXPECT_NE(readFile(box.file("/var/log/standin.log")).find("tvl4700-network.sh --write dhcp\n"), std::string::npos);
}

TEST(StandIns, FirmwareStatusScriptsPrintTheirLine) {
    testsupport::TempSandbox box;
    struct Case {
        const char* script;
        const char* expected;
    } cases[] = {{"tvl4700-nwstatus.sh", "yes no\n"},
                 {"tvl4700-fwcurrent.sh", "1.0.0\n"},
                 {"tvl4700-fwnetwork.sh", "false N/A\n"},
                 {"tvl4700-fwusb.sh", "nodrive\n"}};
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(platform::runCommandOutput({platform::script(c.script)}, out), 0);
        EXPECT_EQ(out, c.expected) << c.script;
    }
    // A mounted drive without an update file.
    writeFile(box.file("/proc/mounts"), "/dev/sdb1 /media/usb vfat rw 0 0\n");
    std::string out;
    platform::runCommandOutput({platform::script("tvl4700-fwusb.sh")}, out);
    EXPECT_EQ(out, "nofile\n");
    // Tests choose a script's line by writing etc/standin/<script>.out.
    writeFile(box.file("/etc/standin/tvl4700-fwnetwork.out"), "true 2.1.0\n");
    platform::runCommandOutput({platform::script("tvl4700-fwnetwork.sh")}, out);
    EXPECT_EQ(out, "true 2.1.0\n");
}

TEST(StandIns, ProfilesSaveAndRestoreTheSettingsFiles) {
    testsupport::TempSandbox box;
    auto data = [&](const char* f) { return platform::dataFile(f); };
    auto save = [](const char* n) { return platform::runCommand({platform::script("tvl4700-save-profile.sh"), n}); };
    auto restore = [](const char* n) { return platform::runCommand({platform::script("tvl4700-restore-profile.sh"), n}); };
    writeFile(data("bp"), "lcdlevel: 3\n");
    writeFile(data("ch1"), "range: 2\n");
    ASSERT_EQ(save("3"), 0);
    writeFile(data("bp"), "lcdlevel: 7\n");
    writeFile(data("ch2"), "range: 1\n");
    ASSERT_EQ(restore("3"), 0);
    EXPECT_EQ(readFile(data("bp")), "lcdlevel: 3\n");
    EXPECT_EQ(readFile(data("ch1")), "range: 2\n");
    EXPECT_FALSE(exists(data("ch2")));  // not part of the profile
    // Profile 0 without a saved factory profile: every file goes, defaults apply.
    ASSERT_EQ(restore("0"), 0);
    for (const char* f : {"bp", "ch1", "ch2", "ch3"}) EXPECT_FALSE(exists(data(f))) << f;
    for (const char* bad : {"0", "11", "x", "../1"}) EXPECT_NE(save(bad), 0) << bad;
    EXPECT_NE(restore("5"), 0);  // never saved
    EXPECT_NE(restore("11"), 0);
}

// A save that cannot copy every file leaves the profile saved before it
// whole; a profile that is unknown or incomplete, or cannot be copied, is
// refused and the present files stay as they are.
TEST(StandIns, ProfileScriptsThatFailLeaveEveryFileAsItWas) {
    testsupport::TempSandbox box;
    auto data = [&](const std::string& f) { return platform::dataFile(f); };
    auto save = [](const char* n) { return platform::runCommand({platform::script("tvl4700-save-profile.sh"), n}); };
    auto restore = [](const char* n) { return platform::runCommand({platform::script("tvl4700-restore-profile.sh"), n}); };
    const std::string saved = "lcdlevel: 3\n";
    writeFile(data("bp"), saved);
    writeFile(data("ch1"), "range: 2\n");
    ASSERT_EQ(save("3"), 0);

    // The disk fills: no copy can be written.
    writeFile(data("bp"), "lcdlevel: 7\nbuttonlevel: 2\n");
    {
        testsupport::FailingWrites full(testsupport::FailingWrites::FileSizeLimit, 4);
        EXPECT_NE(save("3"), 0);
        EXPECT_NE(save("4"), 0);
    }
    EXPECT_EQ(readFile(data("profiles/3/bp")), saved);
    EXPECT_EQ(readFile(data("profiles/3/ch1")), "range: 2\n");
    EXPECT_FALSE(exists(data("profiles/4")));
    for (const char* left : {"profiles/.3.new", "profiles/.3.old", "profiles/.4.new"})
        EXPECT_FALSE(exists(data(left))) << left;
    // No meter file to save: nothing is saved.
    const std::string present = readFile(data("bp"));
    unlink(data("bp").c_str());
    EXPECT_NE(save("5"), 0);
    EXPECT_FALSE(exists(data("profiles/5")));
    writeFile(data("bp"), present);

    // Profiles that cannot be restored.
    platform::makeDirs(data("profiles/6"));                 // no meter file
    writeFile(data("profiles/6/ch1"), "range: 1\n");
    platform::makeDirs(data("profiles/7"));                 // an empty file
    writeFile(data("profiles/7/bp"), "lcdlevel: 1\n");
    writeFile(data("profiles/7/ch2"), "");
    writeFile(data("ch3"), "range: 4\n");
    for (const char* n : {"6", "7", "8"}) {
        EXPECT_EQ(restore(n), 1) << n;
        EXPECT_EQ(readFile(data("bp")), present) << n;
        EXPECT_EQ(readFile(data("ch1")), "range: 2\n") << n;
        EXPECT_EQ(readFile(data("ch3")), "range: 4\n") << n;
    }
    {
        testsupport::FailingWrites full(testsupport::FailingWrites::FileSizeLimit, 4);
        EXPECT_EQ(restore("3"), 1);
    }
    EXPECT_EQ(readFile(data("bp")), present);
    EXPECT_EQ(readFile(data("ch3")), "range: 4\n");
    for (const char* f : {"bp", "ch1", "ch2", "ch3"}) EXPECT_FALSE(exists(data(std::string(f) + ".restore"))) << f;

    // A save cut between its two renames: the profile is found all the same.
    ASSERT_EQ(rename(data("profiles/3").c_str(), data("profiles/.3.old").c_str()), 0);
    ASSERT_EQ(restore("3"), 0);
    EXPECT_EQ(readFile(data("bp")), saved);
    EXPECT_FALSE(exists(data("ch3")));
    ASSERT_EQ(save("3"), 0);
    EXPECT_EQ(readFile(data("profiles/3/bp")), saved);
    EXPECT_FALSE(exists(data("profiles/.3.old")));
}

TEST(StandIns, RmRemovesOnlyInsideTheSandbox) {
    testsupport::TempSandbox box;
    std::string logs = box.file("/var/www/datalogs");
    for (const char* f : {"data0001.csv", "data 0002.csv", "keep.txt"}) writeFile(logs + "/" + f, "x\n");
    testsupport::TempSandbox outside;  // a second folder this test owns
    std::string victim = outside.path() + "/victim.csv";
    writeFile(victim, "keep me\n");
    platform::setSandboxRoot(box.path());

    EXPECT_EQ(platform::runCommand({platform::path::kRm, "-f", "/var/www/datalogs/*.csv"}), 0);
    EXPECT_FALSE(exists(logs + "/data0001.csv"));
    EXPECT_FALSE(exists(logs + "/data 0002.csv"));
    EXPECT_TRUE(exists(logs + "/keep.txt"));
    // An absolute host path means the sandbox's copy of it; parent
    // references and links lead nowhere outside.
    platform::runCommand({platform::path::kRm, "-f", victim});
    platform::runCommand({platform::path::kRm, "-f", box.path() + "/var/../../.." + victim});
    ASSERT_EQ(symlink(outside.path().c_str(), (logs + "/link").c_str()), 0);
    EXPECT_NE(platform::runCommand({platform::path::kRm, "-f", "/var/www/datalogs/link/victim.csv"}), 0);
    EXPECT_TRUE(exists(victim));
    EXPECT_NE(platform::runCommand({platform::path::kRm, "-rf", "/var/.."}), 0);
    EXPECT_TRUE(exists(logs + "/keep.txt"));
}

TEST(PlatformDevices, OnlyPseudoTerminalsAndSandboxFilesAreSerialDevices) {
    testsupport::TempSandbox box;
    const std::string port = platform::resolve(platform::path::kSerialPort);
    EXPECT_NE(platform::serialDeviceProblem(port), "");   // nothing there yet
    platform::makeDirs(box.file("/dev"));
    struct Case {
        const char* target;   // what the sandbox's dev/ttyS0 links to ("" a plain file)
        bool allowed;
    } cases[] = {
        {"", true},
        {"/dev/ptmx", false},
        {"/dev/ttyS0", false},   // this machine's own port: never
        {"/dev/null", false},
        {"/dev/pts/", false},
    };
    for (const Case& c : cases) {
        unlink(port.c_str());
        if (*c.target == '\0')
            writeFile(port, "");
        else
            ASSERT_EQ(symlink(c.target, port.c_str()), 0);
        EXPECT_EQ(platform::serialDeviceProblem(port).empty(), c.allowed) << c.target;
    }
    // A pseudo-terminal's slave, also through a chain of links.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    unlink(port.c_str());
    ASSERT_EQ(symlink(ptsname(master), box.file("/dev/hop").c_str()), 0);
    ASSERT_EQ(symlink(box.file("/dev/hop").c_str(), port.c_str()), 0);
    EXPECT_EQ(platform::serialDeviceProblem(port), "");
    close(master);
    // Paths outside the sandbox are refused as they stand.
    EXPECT_NE(platform::serialDeviceProblem("/dev/ttyS0"), "");
    EXPECT_NE(platform::serialDeviceProblem(box.path() + "/../x"), "");
}

TEST(PlatformClock, SettingTheTimeKeepsAnOffsetInThisProcess) {
    std::time_t host = std::time(nullptr);
    std::time_t wanted = host + 10 * 86400;
    ASSERT_EQ(platform::setSystemTime(wanted), 0);
    EXPECT_EQ(platform::lastRequestedSystemTime(), wanted);
    EXPECT_LE(std::labs(long(platform::now() - wanted)), 2);
    EXPECT_LE(std::labs(long(platform::nowTimespec().tv_sec - wanted)), 2);
    EXPECT_LE(std::labs(long(std::time(nullptr) - host)), 2);  // the host clock is untouched
    platform::setSystemTime(std::time(nullptr));
    EXPECT_LE(std::labs(long(platform::now() - std::time(nullptr))), 1);
}

TEST(PlatformClock, TimesTheKernelRefusesAreRefusedAndLeaveTheClock) {
    const std::time_t before = platform::now();
    for (std::time_t refused : {std::time_t(-1), std::time_t(-2208988800LL), std::time_t(8277292036LL)}) {
        errno = 0;
        EXPECT_EQ(platform::setSystemTime(refused), -1) << refused;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_LE(std::labs(long(platform::now() - before)), 2);
    EXPECT_EQ(platform::setSystemTime(8277292035LL), 0);   // the last second accepted
    EXPECT_EQ(platform::setSystemTime(0), 0);
    platform::setSystemTime(std::time(nullptr));
}

TEST(PlatformTone, TonesAreCountedNotSounded) {
    unsigned long before = platform::toneCount();
    platform::consoleTone(-1, (50ul << 16) | 1193);
    platform::consoleTone(-1, (100ul << 16) | 1193);
    EXPECT_EQ(platform::toneCount(), before + 2);
    EXPECT_EQ(platform::lastToneArgument(), (100ul << 16) | 1193);
}

}  // namespace
