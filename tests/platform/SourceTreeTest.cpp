// Rules on the sources themselves: the instrument's paths, commands, clock and
// console are named only in the platform layer, nothing is configured
// through environment variables, and every include between folders points
// down the layers.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <stdlib.h>

#include <algorithm>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Hit {
    std::string file;
    int line;
    std::string text;   // the line as written
    std::string code;   // without its comments
};

bool isSource(const fs::path& p) {
    const std::string ext = p.extension().string();
    return ext == ".cpp" || ext == ".h" || ext == ".hpp" || ext == ".cc";
}

// The top-level folders whose sources are scanned; build folders, the
// repository's metadata and the sandbox template are not sources.
bool skippedTopFolder(const std::string& name, const std::vector<std::string>& alsoSkipped) {
    if (name.empty() || name[0] == '.' || name.rfind("build", 0) == 0 || name == "data") return true;
    for (const auto& s : alsoSkipped)
        if (name == s) return true;
    return false;
}

// The code of a line: comments taken out (naively, which is enough here).
std::string codeOf(const std::string& line, bool& inBlock) {
    std::string out;
    std::size_t i = 0;
    while (i < line.size()) {
        if (inBlock) {
            std::size_t end = line.find("*/", i);
            if (end == std::string::npos) return out;
            inBlock = false;
            i = end + 2;
            continue;
        }
        if (line.compare(i, 2, "//") == 0) return out;
        if (line.compare(i, 2, "/*") == 0) {
            inBlock = true;
            i += 2;
            continue;
        }
        out += line[i++];
    }
    return out;
}

// The lines of the sources under root (outside the skipped top folders)
// whose code matches the pattern.  A scan that reads no source file at all
// (a tree moved, a folder renamed) fails the test that made it: a rule over
// nothing would pass for ever.
std::vector<Hit> scan(const fs::path& root, const std::vector<std::string>& skippedFolders,
                      const std::regex& pattern) {
    std::vector<Hit> hits;
    int files = 0;
    std::error_code ec;
    for (const auto& top : fs::directory_iterator(root, ec)) {
        if (!top.is_directory() || skippedTopFolder(top.path().filename().string(), skippedFolders)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(top.path())) {
            if (!entry.is_regular_file() || !isSource(entry.path())) continue;
            if (entry.path().filename() == "SourceTreeTest.cpp") continue;
            ++files;
            std::ifstream in(entry.path());
            std::string line;
            bool inBlock = false;
            for (int n = 1; std::getline(in, line); ++n) {
                const std::string code = codeOf(line, inBlock);
                if (std::regex_search(code, pattern))
                    hits.push_back({fs::relative(entry.path(), root).string(), n, line, code});
            }
        }
    }
    EXPECT_GT(files, 0) << "no source file scanned under " << root;
    return hits;
}

std::vector<Hit> scan(const std::vector<std::string>& skippedFolders, const std::regex& pattern) {
    return scan(fs::path(TVL_SOURCE_DIR), skippedFolders, pattern);
}

std::string describe(const std::vector<Hit>& hits) {
    std::string s;
    for (const Hit& h : hits) s += "\n  " + h.file + ":" + std::to_string(h.line) + ": " + h.text;
    return s;
}

}  // namespace

TEST(SourceTree, InstrumentPathsAndCommandsAreNamedOnlyInThePlatformLayer) {
    // A string literal that begins with one of the instrument's paths, or a
    // call that reaches the shell, the clock or the console directly.  The
    // wall clock is read through platform::now as well: it carries the time
    // the PC build set.
    const std::regex pattern(
        "\"(/var/lib/tarvel|/var/www|/dev/ttyS|/dev/gpib|/dev/tty10|/dev/sdb|/proc/mounts|/usr/sbin|"
        "/sbin/|/bin/rm|/sys/class/net)"
        "|(^|[^A-Za-z0-9_.>])(system|popen|stime|settimeofday|clock_settime|ioctl)\\s*\\("
        "|(^|[^A-Za-z0-9_.>])(time|gettimeofday)\\s*\\(|system_clock::now|CLOCK_REALTIME"
        "|KDMKTONE");
    // Tests name instrument paths on purpose, to check where they land.
    const std::vector<Hit> hits = scan({"platform", "tests"}, pattern);
    EXPECT_TRUE(hits.empty()) << "outside platform/:" << describe(hits);
}

TEST(SourceTree, NothingIsConfiguredThroughTheEnvironment) {
    const std::regex pattern("(^|[^A-Za-z0-9_])(secure_)?getenv\\s*\\(|[^A-Za-z0-9_]environ\\b");
    // The programs and their libraries; a test may look at its own process's
    // environment (the X display of the GUI tests, for one).
    const std::vector<Hit> hits = scan({"tests"}, pattern);
    EXPECT_TRUE(hits.empty()) << describe(hits);
}

TEST(SourceTree, ConsoleLinesGoThroughTheConsoleWriter) {
    // The programs and their libraries write their console lines through
    // console/Console.h, never straight to the standard streams: a thread
    // that did would wait for as long as the output takes nothing.  The bus
    // tools' own loops (one thread, printing is all they do), the tests,
    // benchmarks and fuzzers are left out.
    const std::regex pattern(
        "(^|[^A-Za-z0-9_:]|std::)(printf|vprintf|puts|perror|putchar)\\s*\\("
        "|(^|[^A-Za-z0-9_])(std::)?(fprintf|vfprintf|fputs|fputc|putc|fwrite|fflush)\\s*\\(.*\\b(stdout|stderr)\\b"
        "|std::(cout|cerr|clog)\\b");
    std::vector<Hit> hits;
    for (const Hit& h : scan({"tests", "bench", "fuzz"}, pattern))
        if (h.file.rfind("console/Console.", 0) != 0 && h.file.rfind("tools/canbus/", 0) != 0 &&
            h.file.rfind("tools/screenshot/", 0) != 0)
            hits.push_back(h);
    EXPECT_TRUE(hits.empty()) << describe(hits);
}

namespace {

// The layers: which top-level folders the sources of each folder may
// include (besides its own), lowest folder first.  One static library per
// folder, linked the same way.  The tests, benchmarks and fuzzers stand
// above everything and may include any folder; no folder includes them.
const std::map<std::string, std::set<std::string>>& mayInclude() {
    static const std::map<std::string, std::set<std::string>> table = {
        {"console", {}},
        {"platform", {"console"}},
        {"runtime", {"console", "platform"}},
        {"can", {"console", "platform", "runtime"}},
        {"ranges", {"console", "platform", "runtime", "can"}},
        {"status", {"console", "platform", "runtime"}},
        {"channel", {"console", "platform", "runtime", "can", "ranges", "status"}},
        {"meter", {"console", "platform", "runtime", "can", "ranges", "status", "channel"}},
        {"scpi", {"console", "platform", "runtime", "can", "ranges", "status", "channel", "meter"}},
        {"json", {"console", "platform", "runtime", "can", "ranges", "status", "channel", "meter"}},
        // The simulator shares only the bus and the range tables with the program.
        {"simulator", {"console", "platform", "runtime", "can", "ranges"}},
        {"widgets", {"console", "platform", "runtime"}},
        {"pages", {"console", "platform", "runtime", "can", "ranges", "status", "channel", "meter", "widgets"}},
        {"frontpanel",
         {"console", "platform", "runtime", "can", "ranges", "status", "channel", "meter", "scpi", "json", "widgets",
          "pages"}},
        {"tools", {"console", "platform", "runtime", "can", "ranges"}},
    };
    return table;
}

const std::set<std::string> kTopFolders = {"tests", "bench", "fuzz"};

// The folder an include of the project names: its first path component
// ("" for a bare file name or a header from outside the tree, ".." for a
// path that climbs).  Both forms: "folder/file.h", and <folder/file.h> when
// that file is one of the tree's (<json/json.h> is the JSON library's).
std::string includedFolder(const fs::path& root, const std::string& code) {
    static const std::regex include("^\\s*#\\s*include\\s*([\"<])([^\">]*)[\">]");
    std::smatch m;
    if (!std::regex_search(code, m, include)) return "";
    const std::string path = m[2];
    const std::size_t slash = path.find('/');
    if (slash == std::string::npos) return "";
    if (m[1] == "<" && !fs::is_regular_file(root / path)) return "";
    return path.substr(0, slash);
}

// The includes of the folders in the table that name a folder they may not.
std::vector<Hit> upwardIncludes(const fs::path& root) {
    std::vector<std::string> skipped(kTopFolders.begin(), kTopFolders.end());
    std::vector<Hit> hits;
    for (const Hit& h : scan(root, skipped, std::regex("^\\s*#\\s*include\\s*[\"<]"))) {
        const std::string from = h.file.substr(0, h.file.find('/'));
        const std::string to = includedFolder(root, h.code);
        // A bare name is a header the build generates (Version.h).
        if (to.empty()) continue;
        const auto row = mayInclude().find(from);
        if (to == from || (row != mayInclude().end() && row->second.count(to))) continue;
        hits.push_back(h);
    }
    return hits;
}

}  // namespace

TEST(SourceTree, EveryFolderOfSourcesHasItsLayer) {
    std::vector<std::string> missing;
    for (const auto& top : fs::directory_iterator(fs::path(TVL_SOURCE_DIR))) {
        const std::string name = top.path().filename().string();
        if (!top.is_directory() || skippedTopFolder(name, {}) || kTopFolders.count(name) || mayInclude().count(name))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(top.path()))
            if (entry.is_regular_file() && isSource(entry.path())) {
                missing.push_back(name);
                break;
            }
    }
    EXPECT_TRUE(missing.empty()) << "folders with sources but no row in the layer table: "
                                 << ::testing::PrintToString(missing);
}

TEST(SourceTree, TheLayersHaveNoCycle) {
    // Depth-first over the table: a folder met again while it is being
    // visited closes a cycle.
    std::map<std::string, int> state;   // 1 visiting, 2 done
    std::vector<std::string> path;
    std::string cycle;
    std::function<void(const std::string&)> visit = [&](const std::string& folder) {
        state[folder] = 1;
        path.push_back(folder);
        const auto row = mayInclude().find(folder);
        if (row != mayInclude().end()) {
            for (const std::string& next : row->second) {
                if (!cycle.empty()) break;
                EXPECT_TRUE(mayInclude().count(next)) << folder << " may include " << next << ", which has no row";
                if (state[next] == 1) {
                    for (const std::string& p : path) cycle += p + " -> ";
                    cycle += next;
                } else if (state[next] == 0) {
                    visit(next);
                }
            }
        }
        path.pop_back();
        state[folder] = 2;
    };
    for (const auto& row : mayInclude())
        if (state[row.first] == 0) visit(row.first);
    EXPECT_EQ(cycle, "");
}

TEST(SourceTree, IncludesBetweenFoldersPointDown) {
    const std::vector<Hit> hits = upwardIncludes(fs::path(TVL_SOURCE_DIR));
    EXPECT_TRUE(hits.empty()) << "includes of a folder not below the includer's:" << describe(hits);
}

// The layering check itself, on a small tree of its own: it sees every form
// of an upward include, passes the downward ones and the library headers,
// and fails when it finds no source at all.
TEST(SourceTree, TheLayeringCheckSeesEveryFormOfInclude) {
    char tmpl[] = "/tmp/tvl-tree-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path root(tmpl);
    const auto write = [&](const std::string& file, const std::string& text) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text;
    };
    write("scpi/ScpiServer.h", "#pragma once\n");
    write("json/JsonServer.h", "#pragma once\n");
    write("console/Console.h", "#pragma once\n");
    write("status/Upward.cpp",
          "#include \"scpi/ScpiServer.h\"\n"             // quoted
          "#include <scpi/ScpiServer.h>\n"               // angle brackets
          "/* a note */ #include \"json/JsonServer.h\"\n" // after a comment
          "  #  include <json/JsonServer.h> // why\n");
    write("status/Fine.cpp",
          "#include \"console/Console.h\"\n"
          "#include <console/Console.h>\n"
          "#include \"status/Fine.h\"\n"
          "#include <json/json.h>\n"                     // the library's, not the folder's
          "#include <vector>\n"
          "// #include \"scpi/ScpiServer.h\"\n"
          "/* #include <scpi/ScpiServer.h> */\n");
    std::vector<int> lines;
    for (const Hit& h : upwardIncludes(root)) {
        EXPECT_EQ(h.file, "status/Upward.cpp") << h.text;
        lines.push_back(h.line);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 3, 4}));

    // An empty tree: the check must not pass on nothing.
    fs::remove_all(root / "status");
    fs::remove_all(root / "scpi");
    fs::remove_all(root / "json");
    fs::remove_all(root / "console");
    bool failed = false;
    {
        ::testing::TestPartResultArray results;
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        EXPECT_TRUE(upwardIncludes(root).empty());
        for (int i = 0; i < results.size(); ++i) failed = failed || results.GetTestPartResult(i).failed();
    }
    EXPECT_TRUE(failed) << "an empty tree passed the check";
    fs::remove_all(root);
}
