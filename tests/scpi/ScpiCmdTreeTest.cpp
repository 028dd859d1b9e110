// The command tree: matching by short form, channel digits, the query mark,
// and the tree the table loader builds.
#include "scpi/ScpiCmdNode.h"

#include "ScpiTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// A tree with leaves that record what reached them.
struct RecordingTree {
    struct Call {
        std::string leaf;
        int channel;
        std::string text;
    };
    ScpiCmdNodeBranch root{"root", 0};
    std::vector<Call> calls;

    ScpiCmdNodeBranch* branch(ScpiCmdNodeBranch* parent, const std::string& name) {
        return static_cast<ScpiCmdNodeBranch*>(
            parent->addChild(std::make_unique<ScpiCmdNodeBranch>(name, static_cast<int>(name.size()))));
    }
    void leaf(ScpiCmdNodeBranch* parent, const std::string& name, bool query, const std::string& id) {
        auto node = std::make_unique<ScpiCmdNodeLeaf>(name, static_cast<int>(name.size()), query);
        node->signalCommand().connect(
            [this, id](int channel, const std::string& text) { calls.push_back({id, channel, text}); });
        parent->addChild(std::move(node));
    }
};

TEST(ScpiCmdTreeTest, MatchesShortFormsChannelDigitsAndQueryMarks) {
    RecordingTree t;
    ScpiCmdNodeBranch* meas = t.branch(&t.root, "MEAS");
    t.leaf(meas, "FLUX", true, "flux?");
    t.leaf(meas, "FLUX", false, "flux");
    ScpiCmdNodeBranch* cal = t.branch(&t.root, "CAL");
    ScpiCmdNodeBranch* zero = t.branch(cal, "ZERO");
    t.leaf(zero, "INIT", false, "init");
    t.leaf(&t.root, "*IDN?", true, "idn");

    struct Case {
        const char* command;
        const char* leaf;   // nullptr: no match
        int channel;
        const char* text;
    };
    const Case cases[] = {
        {":MEAS:FLUX?", "flux?", 1, "FLUX?"},
        {":MEASURE:FLUX?", "flux?", 1, "FLUX?"},
        {":MEASXYZ:FLUX?", "flux?", 1, "FLUX?"},           // any continuation of the short form
        {":MEA:FLUX?", nullptr, 0, ""},
        {":MEAS2:FLUX?", "flux?", 2, "FLUX?"},
        {":MEAS2:FLUX", "flux", 2, "FLUX"},
        {":MEAS:FLUX 5", "flux", 1, "FLUX 5"},
        {":MEAS:FLUX3", "flux", 3, "FLUX3"},                // a leaf digit counts without an argument
        {":MEAS:FLUX3 1", "flux", 1, "FLUX3 1"},            // ...but not with one
        {":MEAS:FLUX? 1,2", "flux?", 1, "FLUX? 1,2"},
        {":MEAS:FLUX 1:2", nullptr, 0, ""},                 // a ':' in the argument
        {":CAL2:ZERO:INIT", "init", 2, "INIT"},
        {":CAL2:ZERO3:INIT", "init", 3, "INIT"},            // a later digit wins
        {":CAL:ZERO:INIT?", nullptr, 0, ""},                // a query where none is
        {":M:FLUX?", nullptr, 0, ""},                       // a one-character element
        {": MEAS:FLUX?", nullptr, 0, ""},                   // a leading blank
        {":*IDN?", "idn", 1, "*IDN?"},
        {":MEAS:", nullptr, 0, ""},
        {":", nullptr, 0, ""},
    };
    for (const Case& c : cases) {
        t.calls.clear();
        testing::internal::CaptureStdout();
        const int result = t.root.dispatch(c.command, 1);
        testing::internal::GetCapturedStdout();
        if (!c.leaf) {
            EXPECT_EQ(result, -1) << c.command;
            EXPECT_TRUE(t.calls.empty()) << c.command;
            continue;
        }
        EXPECT_EQ(result, 0) << c.command;
        ASSERT_EQ(t.calls.size(), 1u) << c.command;
        EXPECT_EQ(t.calls[0].leaf, c.leaf) << c.command;
        EXPECT_EQ(t.calls[0].channel, c.channel) << c.command;
        EXPECT_EQ(t.calls[0].text, c.text) << c.command;
    }
}

TEST(ScpiCmdTreeTest, BranchMessagesForAMissingOrLastColon) {
    RecordingTree t;
    t.leaf(t.branch(&t.root, "MEAS"), "FLUX", true, "flux?");
    testing::internal::CaptureStdout();
    EXPECT_EQ(t.root.dispatch(":", 1), -1);
    EXPECT_EQ(t.root.dispatch(":MEAS:", 1), -1);
    EXPECT_EQ(t.root.getChildren()[0]->execute("FLUX?", 1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ROOT: colon is last character in cmd\nMEAS: colon is last character in cmd\n"
              "MEAS: colon not present\n");
}

// The loader on a table of the test's own: the tree it builds and what it
// says about the rows it skips.
class TableLoaderTest : public scpitest::ServerTest {
protected:
    std::unique_ptr<ScpiServerMemory> load(const std::string& rows, std::string* printed = nullptr) {
        const std::string path = sandbox.path() + "/table.csv";
        std::ofstream(path) << "\"Command\",\"Description\",\"Handler\"\n" << rows;
        testing::internal::CaptureStdout();
        auto s = std::make_unique<ScpiServerMemory>(services.forServer(meter, path));
        const std::string out = testing::internal::GetCapturedStdout();
        if (printed) *printed = out;
        return s;
    }
    static std::string names(const ScpiCmdNodeBranch& branch) {
        std::string out;
        for (const auto& child : branch.getChildren())
            out += child->getName() + (child->isLeaf() ? (child->isQuery() ? "? " : " ") : "/ ");
        return out;
    }
};

TEST_F(TableLoaderTest, BuildsOneBranchPerElementAndALeafBesideIt) {
    auto s = load("\":MEASure:FLUX?\",\"\",\"handleMeasFluxRequest\"\n"
                  "\":MEASure:FREQuency?\",\"\",\"handleMeasFreqRequest\"\n"
                  "\":MEASure:FLUX:ALL?\",\"\",\"handleMeasFluxAllRequest\"\n"
                  "\"*ESE <value>\",\"\",\"handleProgramEventEnable\"\n"
                  "\"*ESE?\",\"\",\"handleQueryEventEnable\"\n");
    const ScpiCmdNodeBranch& root = *s->getRoot();
    EXPECT_EQ(root.getName(), "ROOT");
    EXPECT_EQ(names(root), "MEAS/ *ESE *ESE?? ");
    const auto& meas = static_cast<const ScpiCmdNodeBranch&>(*root.getChildren()[0]);
    EXPECT_EQ(names(meas), "FLUX? FREQ? FLUX/ ");
    EXPECT_EQ(names(static_cast<const ScpiCmdNodeBranch&>(*meas.getChildren()[2])), "ALL? ");
    EXPECT_EQ(root.getChildren()[1]->getMatchLength(), 4);
}

TEST_F(TableLoaderTest, SkipsBadRowsWithTheirMessages) {
    std::string printed;
    auto s = load("\":MEAS:FLUX?\",\"\",\"handleNothing\"\n"
                  "\"MEAS:FLUX?\",\"\",\"handleMeasFluxRequest\"\n"
                  "\":ME\",\"\",\"handleMeasFluxRequest\"\n"        // path of 3 characters
                  "\":MEAS:FLUX?\",\"\",\"han\"\n"                  // handler of 3
                  "\":MEAS:FLUX?\",\"\"\n"                          // five pieces
                  "\"*IDN?\",\"\",\"handleIdRequest\"\n"
                  + std::string(1100, 'x') + "\n"                   // ends the loading
                  + "\"*OPT?\",\"\",\"handleOptionQuery\"\n",
                  &printed);
    EXPECT_EQ(printed, "could not find handleNothing\n\nError in command: does not begin with colon\n\n");
    EXPECT_EQ(names(*s->getRoot()), "*IDN?? ");
}

TEST_F(TableLoaderTest, MissingTableLeavesOnlyTheRoot) {
    auto s = std::make_unique<ScpiServerMemory>(services.forServer(meter, sandbox.path() + "/none.csv"));
    EXPECT_TRUE(s->getRoot()->getChildren().empty());
    testing::internal::CaptureStdout();
    EXPECT_TRUE(s->command("*IDN?").empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "unrecognized SCPI cmd: *IDN?\n");
}

// The installed table: every row names a registered handler, every handler
// has a row (one, but the oldest-error query: SYST:ERR? and SYST:ERR:NEXT?,
// the NEXT being optional), and no path element is split into twin branches.
TEST_F(TableLoaderTest, InstalledTableBindsEveryHandlerOnce) {
    std::ifstream file(scpitest::installedTable());
    ASSERT_TRUE(file) << scpitest::installedTable();
    std::string line;
    std::getline(file, line);
    std::map<std::string, int> rows;
    while (std::getline(file, line)) {
        const auto last = line.rfind('"', line.size() - 2);
        ++rows[line.substr(last + 1, line.size() - last - 2)];
    }
    EXPECT_EQ(rows.size(), server->handlerCount());
    for (const auto& [handler, count] : rows) {
        EXPECT_TRUE(server->hasHandler(handler)) << handler;
        EXPECT_EQ(count, handler == "handleSystErrorNextQuery" ? 2 : 1) << handler;
    }
    std::function<void(const ScpiCmdNodeBranch&, const std::string&)> noTwins =
        [&](const ScpiCmdNodeBranch& branch, const std::string& path) {
            std::set<std::string> seen;
            for (const auto& child : branch.getChildren()) {
                if (child->isLeaf()) continue;
                EXPECT_TRUE(seen.insert(child->getName()).second) << path << ":" << child->getName();
                noTwins(static_cast<const ScpiCmdNodeBranch&>(*child), path + ":" + child->getName());
            }
        };
    noTwins(*server->getRoot(), "");
}

}  // namespace
