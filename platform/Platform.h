// The one place where the instrument's file system, devices, commands and
// clock are named.  In the instrument build every path below is used as it
// stands; in the PC build (the default) each one is mapped into a sandbox
// folder laid out like the instrument's file system, so nothing a program or
// a test does can reach this machine's clock, serial ports, console, network
// set-up or files outside the sandbox.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace platform {

// Instrument paths.  Callers pass these to resolve(), never their own strings.
namespace path {
constexpr const char* kDataDir = "/var/lib/tarvel";      // settings, catalogue, errs, chanproc.a00 ...
constexpr const char* kDatalogDir = "/var/www/datalogs"; // internal data logs
constexpr const char* kSerialPort = "/dev/ttyS0";        // RS-232 SCPI port
constexpr const char* kGpibPort = "/dev/gpib";           // GPIB-USB controller
constexpr const char* kConsoleTty = "/dev/tty10";        // console tone device
constexpr const char* kUsbDevice = "/dev/sdb1";          // USB drive, as listed in the mounts file
constexpr const char* kMounts = "/proc/mounts";
constexpr const char* kProcStat = "/proc/stat";
constexpr const char* kScriptDir = "/usr/sbin";          // tvl4700-*.sh and tvlCLI.sh
constexpr const char* kShutdown = "/sbin/shutdown";
constexpr const char* kHwclock = "/sbin/hwclock";
constexpr const char* kIfconfig = "/sbin/ifconfig";
constexpr const char* kRm = "/bin/rm";
constexpr const char* kRunDir = "/run/tvl";              // emulated CAN buses live here
}  // namespace path

// True in the instrument build (-DTVL_INSTRUMENT_BUILD=ON).
bool isInstrumentBuild();

// The sandbox root of the PC build ("" in the instrument build).  Tests that
// need a sandbox of their own call setSandboxRoot() before anything else.
std::string sandboxRoot();
void setSandboxRoot(const std::string& root);

// A folder is a sandbox when it holds this marker file.  The build writes it
// into the sandbox it fills (cmake/FillSandbox.cmake); markSandbox writes it
// into a folder made to be one (test and benchmark sandboxes).
constexpr const char* kSandboxMarker = ".tvl-sandbox";
bool markSandbox(const std::string& dir);
// Why dir cannot be used as a sandbox: "" when it can; otherwise the reason
// (no such folder, the root folder, no marker).
std::string sandboxProblem(const std::string& dir);

// Handles the platform's options on a program's command line and removes
// them from argv; returns the new argc.  In the PC build:
//  -sandbox DIR  the sandbox root.  A folder that is not a sandbox (missing,
//                resolving to the root folder, without the marker) is refused:
//                message on standard error, exit status 2.  Without the
//                option the build's own sandbox is checked the same way.
//  -socketcan    the kernel's SocketCAN instead of the emulated bus.
// The instrument build leaves argv as it is.
int consumeSandboxOption(int argc, char** argv);

// Maps an instrument path (one of path::k..., or a file below one of them) to
// the path this build uses.  /proc/stat is read from the host in both builds.
std::string resolve(const std::string& instrumentPath);
// resolve(kDataDir + "/" + name)
std::string dataFile(const std::string& name);
// resolve(kScriptDir + "/" + name)
std::string script(const std::string& name);
// resolve("/sys/class/net/" + interfaceName + "/can_bittiming/bitrate")
std::string canBitrateFile(const std::string& interfaceName);

// Why a serial device may not be opened: "" when it may, else the reason.
// The instrument build opens its devices as they are.  The PC build opens a
// device path only when it lies in the sandbox and what it leads to (through
// links) is a pseudo-terminal (/dev/pts/N) or a file inside the sandbox:
// never one of this machine's own serial ports, also not through a link
// that a test or a user put into the sandbox.
std::string serialDeviceProblem(const std::string& devicePath);

// Lets the serial device open on fd be opened again (a serial library may
// make it exclusive, which keeps a second stream on the same device out).
void shareSerialDevice(int fd);

// Creates a folder and its parents (mode 0755).  Returns true when it exists.
bool makeDirs(const std::string& dir);

// Writes a whole file so that a crash leaves the old or the new file, never a
// torn one: temporary file in the same folder, flush, fsync, rename.
bool writeFileAtomic(const std::string& file, const std::string& contents);
// Removes the temporary files that writeFileAtomic(file, ...) leaves when the
// program is killed mid-write (file + ".tmp" + six letters or digits).  A
// file's owner calls it when it starts, before it writes the file.
void removeStaleTempFiles(const std::string& file);

// --- Commands -------------------------------------------------------------
// Every external command goes through here.  argv[0] is an instrument path
// (path::kShutdown, script("tvl4700-network.sh") ...); it is resolved, so the
// PC build runs the sandbox's stand-in.  No shell is involved.
// Returns the command's exit status (128 + the signal number when a signal
// ended it), or -1 when it could not be started.  The PC build refuses, with a
// message on standard error, a command that does not lie inside the sandbox
// (also through a link).  The command inherits standard input and error.
int runCommand(const std::vector<std::string>& argv);
// As runCommand, collecting the command's standard output into output.
int runCommandOutput(const std::vector<std::string>& argv, std::string& output);

// --- Clock ----------------------------------------------------------------
// The instrument's wall clock.  In the PC build setting it only keeps an
// offset inside this process (the host clock is never changed).
std::time_t now();
struct timespec nowTimespec();
// Returns 0 on success, -1 with errno on failure.  Both builds refuse
// (EINVAL) a time before 1970 or from about 2232 on, as the kernel does.
int setSystemTime(std::time_t t);
// The time most recently requested through setSystemTime (0 if none); for tests.
std::time_t lastRequestedSystemTime();

// --- Console tone ----------------------------------------------------------
// Issues one console tone request (KDMKTONE) on an open descriptor of the
// console device.  The PC build never sounds anything: it counts the request.
void consoleTone(int fd, unsigned long argument);
// Tone requests issued in this process (PC build); for tests.
unsigned long toneCount();
unsigned long lastToneArgument();

}  // namespace platform
