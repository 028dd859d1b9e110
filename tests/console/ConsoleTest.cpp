// The console writer on pipes of the test's own: what comes out, in which
// order, and that a caller never waits for an output that takes nothing.
#include "console/Console.h"

#include "support/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using console::Stream;

namespace {

// A pipe the writer writes to and the test reads from.
class Pipe {
public:
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            readEnd = fds[0];
            writeEnd = fds[1];
        }
    }
    ~Pipe() {
        close(readEnd);
        close(writeEnd);
    }
    int fd() const { return writeEnd; }

    // Fills the pipe so that the next write blocks; returns the bytes written.
    std::size_t fill() {
        const int flags = fcntl(writeEnd, F_GETFL);
        fcntl(writeEnd, F_SETFL, flags | O_NONBLOCK);
        const std::string block(4096, '#');
        std::size_t filled = 0;
        for (ssize_t n; (n = ::write(writeEnd, block.data(), block.size())) > 0;) filled += static_cast<std::size_t>(n);
        fcntl(writeEnd, F_SETFL, flags);
        return filled;
    }

    // Reads until what came so far satisfies done, at most deadline.
    bool readUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds deadline = 10s) {
        return testsupport::waitUntil([&] {
            pollfd p{readEnd, POLLIN, 0};
            char buffer[65536];
            while (poll(&p, 1, 0) > 0) {
                const ssize_t n = ::read(readEnd, buffer, sizeof buffer);
                if (n <= 0) break;
                got.append(buffer, static_cast<std::size_t>(n));
            }
            return done(got);
        }, deadline, 1ms);
    }
    bool readUntilEnds(const std::string& tail) {
        return readUntil([&](const std::string& s) {
            return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
        });
    }
    std::string got;

private:
    int readEnd = -1;
    int writeEnd = -1;
};

console::Writer::Options on(const Pipe& out, const Pipe& err, std::size_t capacity = 1 << 20,
                            std::chrono::milliseconds repeatWindow = 1h) {
    console::Writer::Options o;
    o.outFd = out.fd();
    o.errFd = err.fd();
    o.capacity = capacity;
    o.repeatWindow = repeatWindow;
    return o;
}

}  // namespace

TEST(ConsoleWriter, WritesTextsInOrderAndFoldsRunsOfIdenticalOnes) {
    struct Case {
        const char* what;
        std::vector<std::pair<Stream, std::string>> texts;
        std::string out, err;
    };
    const Case cases[] = {
        {"different texts", {{Stream::out, "a\n"}, {Stream::out, "b\n"}, {Stream::out, "a\n"}}, "a\nb\na\n", ""},
        {"a run", {{Stream::out, "a\n"}, {Stream::out, "a\n"}, {Stream::out, "a\n"}, {Stream::out, "b\n"}},
         "a\n(last line repeated 2 times)\nb\n", ""},
        {"a run of two", {{Stream::out, "a\n"}, {Stream::out, "a\n"}, {Stream::out, "b\n"}}, "a\na\nb\n", ""},
        {"a message of two lines",
         {{Stream::out, "x\ny\n"}, {Stream::out, "x\ny\n"}, {Stream::out, "x\ny\n"}, {Stream::out, "z\n"}},
         "x\ny\n(last line repeated 2 times)\nz\n", ""},
        {"texts as given", {{Stream::out, "rc = 0"}, {Stream::out, "next\n"}}, "rc = 0next\n", ""},
        {"each stream its own",
         {{Stream::out, "o1\n"}, {Stream::err, "e1\n"}, {Stream::out, "o2\n"}, {Stream::err, "e1\n"}},
         "o1\no2\n", "e1\ne1\n"},
        {"a run on standard error",
         {{Stream::err, "bind: Address in use\n"}, {Stream::err, "bind: Address in use\n"},
          {Stream::err, "bind: Address in use\n"}, {Stream::out, "done\n"}},
         "done\n", "bind: Address in use\n(last line repeated 2 times)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pipe out, err;
        {
            console::Writer writer(on(out, err));
            for (const auto& t : c.texts) writer.write(t.first, t.second);
            ASSERT_TRUE(writer.flush(10s));
            EXPECT_EQ(writer.dropped(), 0u);
        }
        out.readUntil([&](const std::string& s) { return s.size() >= c.out.size(); });
        err.readUntil([&](const std::string& s) { return s.size() >= c.err.size(); });
        EXPECT_EQ(out.got, c.out);
        EXPECT_EQ(err.got, c.err);
    }
}

TEST(ConsoleWriter, ARunEndsByItselfAfterItsWindow) {
    Pipe out, err;
    console::Writer writer(on(out, err, 1 << 20, 50ms));
    for (int i = 0; i < 5; ++i) writer.write(Stream::out, "parse failed\n");
    // No other text comes: the count shows up all the same.  (A slow run may
    // be cut in two; every text is accounted for either way.)
    ASSERT_TRUE(out.readUntil([](const std::string& s) {
        std::istringstream lines(s);
        int total = 0;
        for (std::string line; std::getline(lines, line);) {
            int n = 0;
            if (line == "parse failed")
                ++total;
            else if (std::sscanf(line.c_str(), "(last line repeated %d times)", &n) == 1)
                total += n;
        }
        return total == 5;
    })) << out.got;
    // After the count, the text is written whole again.
    const std::size_t before = out.got.size();
    writer.write(Stream::out, "parse failed\n");
    ASSERT_TRUE(out.readUntilEnds("parse failed\n"));
    EXPECT_EQ(out.got.substr(before), "parse failed\n");
}

TEST(ConsoleWriter, AFullQueueDropsAndCountsWithoutEverWaiting) {
    Pipe out, err;
    const std::size_t filler = out.fill();
    ASSERT_GT(filler, 0u);
    // Room for ten texts of ten bytes, queued or being written.
    console::Writer writer(on(out, err, 100));
    std::atomic<bool> done{false};
    std::thread caller([&] {
        char text[16];
        for (int i = 0; i < 50; ++i) {
            std::snprintf(text, sizeof text, "line %04d\n", i);
            writer.write(Stream::out, text);
        }
        done = true;
    });
    // The output takes nothing, and the caller goes on all the same.
    const bool returned = testsupport::waitUntil([&] { return done.load(); }, 30s);
    caller.join();
    ASSERT_TRUE(returned) << "a write waited for the output";
    EXPECT_EQ(writer.dropped(), 40u);
    EXPECT_FALSE(writer.flush(50ms)) << "nothing can be written yet";

    // Once the output flows, the first ten come, then the count where the
    // texts were lost, then what follows.
    const std::string note = "(40 console lines dropped)\n";
    ASSERT_TRUE(out.readUntilEnds(note)) << out.got.substr(std::min(filler, out.got.size()));
    writer.write(Stream::out, "after\n");
    ASSERT_TRUE(out.readUntilEnds("after\n"));
    std::string expected;
    for (int i = 0; i < 10; ++i) expected += "line 000" + std::to_string(i) + "\n";
    EXPECT_EQ(out.got.substr(filler), expected + note + "after\n");
    EXPECT_TRUE(writer.flush(10s));
}

// What the program's writer does at exit.
TEST(ConsoleWriter, FinishingWritesWhatTheOutputTakesWithinItsBound) {
    {
        Pipe out, err;
        console::Writer writer(on(out, err));
        writer.write(Stream::out, "last words\n");
        EXPECT_TRUE(writer.finish(10s)) << "the output takes everything: the thread ends";
        writer.write(Stream::out, "too late\n");
        EXPECT_EQ(writer.dropped(), 1u);
        ASSERT_TRUE(out.readUntilEnds("last words\n"));
        EXPECT_EQ(out.got, "last words\n");
    }
    Pipe out, err;
    const std::size_t filler = out.fill();
    console::Writer writer(on(out, err));
    writer.write(Stream::out, "stuck\n");
    EXPECT_FALSE(writer.finish(100ms)) << "a stuck output holds nothing up";
    ASSERT_TRUE(out.readUntil([&](const std::string& s) { return s.size() == filler + 6; }));
    EXPECT_EQ(out.got.substr(filler), "stuck\n");
}

TEST(ConsoleWriter, TextsOfEachThreadKeepTheirOrder) {
    Pipe out, err;
    constexpr int kThreads = 4, kTexts = 500;
    std::string all;
    {
        console::Writer writer(on(out, err));
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&writer, t] {
                for (int i = 0; i < kTexts; ++i)
                    writer.write(Stream::out, "T" + std::to_string(t) + " " + std::to_string(i) + "\n");
            });
        for (auto& t : threads) t.join();
        ASSERT_TRUE(out.readUntil([](const std::string& s) {
            return static_cast<int>(std::count(s.begin(), s.end(), '\n')) == kThreads * kTexts;
        })) << out.got.size();
    }
    int next[kThreads] = {};
    std::istringstream lines(out.got);
    int thread, index;
    char t;
    while (lines >> t >> thread >> index) {
        ASSERT_EQ(t, 'T');
        ASSERT_TRUE(thread >= 0 && thread < kThreads);
        EXPECT_EQ(index, next[thread]) << "thread " << thread;
        next[thread] = index + 1;
    }
    for (int n : next) EXPECT_EQ(n, kTexts);
}

TEST(ConsoleWriter, PerrorWritesTheCallAndTheReasonOnStandardError) {
    struct Case {
        const char* what;
        std::string printed;
    };
    const Case cases[] = {
        {"SIOCGIFINDEX", "SIOCGIFINDEX: No such device\n"},
        {"", "No such device\n"},
        {nullptr, "No such device\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        errno = ENODEV;
        console::perror(c.what);
        EXPECT_EQ(errno, ENODEV);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.printed);
    }
}
