// The limit on a client's console lines and the escaping of its bytes, with
// the limiter's clock given by the test.
#include "console/ClientLines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;
using console::Limiter;
using console::Stream;

namespace {

struct Written {
    Stream stream;
    std::string text;
    bool operator==(const Written& o) const { return stream == o.stream && text == o.text; }
};

std::ostream& operator<<(std::ostream& out, const Written& w) {
    return out << (w.stream == Stream::out ? "out:" : "err:") << w.text;
}

class ClientLines : public ::testing::Test {
protected:
    std::vector<Written> written;
    Limiter::Sink sink = [this](Stream s, std::string text) { written.push_back({s, std::move(text)}); };
    const Limiter::Clock::time_point t0 = Limiter::Clock::now();
};

TEST_F(ClientLines, ASourcePassesAFewTextsASecondAndCountsTheRest) {
    Limiter lines("JSON client on fd 9", 3, sink);
    // Alternating texts, which the console would not fold: 1000 in 100 ms.
    for (int i = 0; i < 1000; ++i) lines.write(Stream::out, i % 2 ? "x\n" : "1\n", t0 + i * 100us);
    EXPECT_EQ(written, (std::vector<Written>{{Stream::out, "1\n"}, {Stream::out, "x\n"}, {Stream::out, "1\n"}}));
    EXPECT_EQ(lines.leftOut(), 997u);

    // The next second: the count first, then the text.
    written.clear();
    lines.write(Stream::err, "Error accepting client connection\n", t0 + 1s);
    EXPECT_EQ(written, (std::vector<Written>{{Stream::out, "(997 lines from JSON client on fd 9 left out)\n"},
                                             {Stream::err, "Error accepting client connection\n"}}));

    // A second begins with the first text after the last one ended: texts
    // spread out pass whole.
    written.clear();
    for (int i = 0; i < 10; ++i) lines.write(Stream::out, "slow\n", t0 + 3s + i * 400ms);
    EXPECT_EQ(written.size(), 10u);
    EXPECT_EQ(lines.leftOut(), 997u);
}

TEST_F(ClientLines, TheCountStillPendingIsWrittenAtTheSourcesEnd) {
    {
        Limiter lines("SCPI client on fd 4", 2, sink);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(lines.admit(t0 + i * 1ms), i < 2) << i;
        lines.flush();
        EXPECT_EQ(written, (std::vector<Written>{{Stream::out, "(1 line from SCPI client on fd 4 left out)\n"}}));
        lines.flush();   // nothing more to count
        EXPECT_EQ(written.size(), 1u);
        for (int i = 0; i < 5; ++i) lines.admit(t0 + 1ms);
    }
    EXPECT_EQ(written.back(), (Written{Stream::out, "(5 lines from SCPI client on fd 4 left out)\n"}))
        << "the destructor writes what is left";
}

// Lines written deep down while a client's input is handled count for that
// client, on that thread only.
TEST_F(ClientLines, ClientPrintGoesThroughTheLimiterOfTheScope) {
    Limiter lines("SCPI client on fd 5", 2, sink);
    Limiter other("SCPI client on fd 6", 2, sink);
    {
        console::ClientScope scope(lines);
        for (int i = 0; i < 4; ++i) console::clientPrint("%s: colon not present\n", "ROOT");
        {
            console::ClientScope inner(other);
            console::clientPrint("inner %d\n", 1);
        }
        console::clientPrint("again\n");
    }
    EXPECT_EQ(written, (std::vector<Written>{{Stream::out, "ROOT: colon not present\n"},
                                             {Stream::out, "ROOT: colon not present\n"},
                                             {Stream::out, "inner 1\n"}}));
    EXPECT_EQ(lines.leftOut(), 3u);
    EXPECT_EQ(other.leftOut(), 0u);
}

TEST(ClientBytes, AreEscapedOutsidePrintableAscii) {
    const struct {
        std::string bytes, shown;
    } cases[] = {
        {"*IDN?", "*IDN?"},
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},              // a terminal's title sequence
        {"a\r\nb\tc", "a\\x0d\\x0ab\\x09c"},                     // no line break of the client's
        {std::string("z\0y", 3), "z\\x00y"},
        {"\x7f\x80\xff", "\\x7f\\x80\\xff"},
        {"C:\\x41", "C:\\\\x41"},                                 // a backslash stays unambiguous
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(console::escaped(c.bytes), c.shown) << c.shown;
}

}  // namespace
