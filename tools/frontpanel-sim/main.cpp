// frontpanel-sim: the front-panel controller and power-supply board stand-in.
//
//   frontpanel-sim [-can NAME] [-sandbox DIR] [-fpVersion MAJOR.MINOR]
//                  [-psuVersion MAJOR.MINOR] [-powerOnMode 0|1] [-pause MS]
//                  [-quiet] [-stdin] [KEY ...]
//
// Presses the KEYs given (front-panel key codes, -pause MS apart), then:
// from a terminal (or with -stdin, from whatever standard input is: a
// script's pipe), reads keys interactively until end of input; otherwise, with no KEYs given,
// keeps answering the host until SIGTERM or SIGINT; with KEYs given, ends.
#include "console/Console.h"
#include "platform/CanTransport.h"
#include "platform/Platform.h"
#include "tools/frontpanel-sim/FrontPanelSim.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

void usage() {
    console::printError(
        "Usage: frontpanel-sim [-can NAME] [-sandbox DIR] [-fpVersion MAJOR.MINOR]\n"
        "                      [-psuVersion MAJOR.MINOR] [-powerOnMode 0|1] [-pause MS]\n"
        "                      [-quiet] [-stdin] [KEY ...]\n"
        "  KEY  a front-panel key code (1-32), pressed in order, MS milliseconds apart\n"
        "  Interactive (from a terminal, or any standard input with -stdin): key codes, b (Back), e (Enter),\n"
        "  p0 / p1 (report standby / run at power on), ? (key map), q (quit)\n");
}

bool parseInt(const char* text, int low, int high, int& value) {
    char* end;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

// One word typed by the user; false ends the session.
bool interpret(const std::string& word, FrontPanelSim& panel) {
    int code = 0;
    if (word == "q") return false;
    if (word == "?") {
        console::write(console::Stream::out, keyMapText());
    } else if (word == "p0" || word == "p1") {
        panel.reportPowerOnMode(word[1] - '0');
        console::print("Reported power-on mode: %s\n", word[1] == '1' ? "run" : "standby");
    } else if (word == "b" || word == "e" || (parseInt(word.c_str(), 1, 32, code) && !keyName(code).empty())) {
        if (word == "b") code = 31;
        if (word == "e") code = 32;
        panel.pressKey(code);
        console::print("Pressed %s\n", keyName(code).c_str());
    } else {
        console::print("Unknown key \"%s\" (? shows the key map)\n", word.c_str());
    }
    return true;
}

// Reads words from the terminal until q, end of input or a stop signal.
void interactive(FrontPanelSim& panel) {
    console::write(console::Stream::out, keyMapText());
    console::print("Type key codes (b Back, e Enter), p0 / p1 to report the power-on mode, ? or q.\n");
    std::string pending;
    while (!stopRequested) {
        pollfd in{0, POLLIN, 0};
        if (poll(&in, 1, 200) <= 0) continue;
        char buffer[256];
        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n <= 0) return;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            std::istringstream line(pending.substr(0, eol));
            pending.erase(0, eol + 1);
            std::string word;
            while (line >> word)
                if (!interpret(word, panel)) return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);

    std::string interfaceName = "can0";
    FrontPanelSim::Options options;
    int pauseMs = 0;
    std::vector<int> keys;
    bool readStdin = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        bool ok = true;
        if (arg == "-can" && hasValue) {
            interfaceName = argv[++i];
            const std::string problem = platform::canInterfaceNameProblem(interfaceName.c_str());
            if (!problem.empty()) {
                console::printError("frontpanel-sim: %s\n", problem.c_str());
                return 2;
            }
        } else if (arg == "-fpVersion" && hasValue) {
            ok = parseVersion(argv[++i], options.frontPanel);
        } else if (arg == "-psuVersion" && hasValue) {
            ok = parseVersion(argv[++i], options.powerSupply);
        } else if (arg == "-powerOnMode" && hasValue) {
            ok = parseInt(argv[++i], 0, 1, options.powerOnMode);
        } else if (arg == "-pause" && hasValue) {
            ok = parseInt(argv[++i], 0, 600000, pauseMs);
        } else if (arg == "-quiet") {
            options.quiet = true;
        } else if (arg == "-stdin") {
            readStdin = true;
        } else {
            int code;
            ok = parseInt(arg.c_str(), 1, 32, code) && !keyName(code).empty();
            if (ok) keys.push_back(code);
        }
        if (!ok) {
            console::printError("frontpanel-sim: bad argument \"%s\"\n", arg.c_str());
            usage();
            return 2;
        }
    }

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    FrontPanelSim panel(interfaceName.c_str(), options);
    if (!panel.valid()) {
        console::printError("frontpanel-sim: cannot open CAN interface %s\n", interfaceName.c_str());
        return 1;
    }

    for (std::size_t k = 0; k < keys.size() && !stopRequested; ++k) {
        if (k > 0 && pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        panel.pressKey(keys[k]);
    }

    if (isatty(0) || readStdin) {
        interactive(panel);
    } else if (keys.empty()) {
        // The stop signals stay blocked between the check and the wait, so
        // one that comes in between is not lost.
        sigset_t stopSignals, previous;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGTERM);
        sigaddset(&stopSignals, SIGINT);
        pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
        while (!stopRequested) sigsuspend(&previous);
    }
    return 0;
}
