#include "runtime/ErrorList.h"

#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::string writeTemp(const std::string& contents) {
    char name[] = "/tmp/tvl-catalogue-XXXXXX";
    const int fd = mkstemp(name);
    close(fd);
    std::ofstream(name, std::ios::binary) << contents;
    return name;
}

// Loads contents into a fresh catalogue; returns what the load printed.
std::string loadText(ErrorList& list, const std::string& contents) {
    const std::string path = writeTemp(contents);
    testing::internal::CaptureStdout();
    list.load(path);
    std::string printed = testing::internal::GetCapturedStdout();
    std::remove(path.c_str());
    return printed;
}

void expectRecord(const TvlError& e, int code, int kind, const char* l1, const char* l2,
                  const char* l3, const char* scpi, bool displayed, bool reported) {
    EXPECT_EQ(code, e.getCode());
    EXPECT_EQ(kind, e.getKind());
    EXPECT_EQ(l1, e.getDisplayLine1());
    EXPECT_EQ(l2, e.getDisplayLine2());
    EXPECT_EQ(l3, e.getDisplayLine3());
    EXPECT_EQ(scpi, e.getScpiText());
    EXPECT_EQ(displayed, e.isDisplayed());
    EXPECT_EQ(reported, e.isScpiReported());
    EXPECT_EQ("", e.getDetail());
}

}  // namespace

TEST(ErrorList, LoadsEightFieldLines) {
    ErrorList list;
    EXPECT_EQ("", loadText(list, "5,1,P,Q,R,S,1,0\n"
                                 "6,2,,,,,0,1\n"
                                 " 7 ,3x, A b ,,,S T,  9,-1,extra,fields\n"
                                 "8,4,a,b,c,d,1,1"));   // last line without a newline
    EXPECT_EQ(4u, list.size());
    expectRecord(*list.lookup(5), 5, 1, "P", "Q", "R", "S", true, false);
    expectRecord(*list.lookup(6), 6, 2, "", "", "", "", false, true);
    expectRecord(*list.lookup(7), 7, 3, " A b ", "", "", "S T", true, true);
    expectRecord(*list.lookup(8), 8, 4, "a", "b", "c", "d", true, true);
}

TEST(ErrorList, MalformedLinesAreReportedAndSkipped) {
    struct Case {
        const char* line;
        const char* printed;   // "" for a silent skip
    } cases[] = {
        {"5,1,P,Q,R,S,1", "error field 8 (5,1,P,Q,R,S,1)\n"},
        {"5,1,P,Q,R,S,1,", "error field 8 (5,1,P,Q,R,S,1,)\n"},
        {"5,1,P", "error field 4 (5,1,P)\n"},
        {"5", "error field 2 (5)\n"},
        {"", "error field 1 ()\n"},
        {",1,P,Q,R,S,1,0", ""},                                    // empty code field
        {"5,1,%s%n,Q,R,S,1", "error field 8 (5,1,%s%n,Q,R,S,1)\n"}, // text is data, never a format
    };
    for (const Case& c : cases) {
        ErrorList list;
        EXPECT_EQ(c.printed, loadText(list, std::string(c.line) + "\n")) << c.line;
        EXPECT_EQ(0u, list.size()) << c.line;
    }
}

TEST(ErrorList, NonNumericFieldsReadAsZero) {
    ErrorList list;
    loadText(list, "abc,kind,x,y,z,w,no,yes\n");
    expectRecord(*list.lookup(0), 0, 0, "x", "y", "z", "w", false, false);
}

TEST(ErrorList, LaterLineWins) {
    ErrorList list;
    loadText(list, "5,1,first,,,A,1,0\n5,2,second,,,B,0,1\n");
    expectRecord(*list.lookup(5), 5, 2, "second", "", "", "B", false, true);
}

TEST(ErrorList, LoadingEndsAtALineLongerThan255Characters) {
    ErrorList list;
    const std::string fits = "3,1," + std::string(255 - 12, 'x') + ",,,S,1,0";
    ASSERT_EQ(255u, fits.size());
    const std::string tooLong = "4,1," + std::string(300, 'y') + ",,,S,1,0";
    EXPECT_EQ("", loadText(list, "1,1,a,,,S,1,0\n" + fits + "\n" + tooLong + "\n5,1,b,,,S,1,0\n"));
    EXPECT_EQ(2u, list.size());
    EXPECT_EQ("S", list.lookup(3)->getScpiText());
    EXPECT_EQ("Unknown Error", list.lookup(4)->getDisplayLine1());
    EXPECT_EQ("Unknown Error", list.lookup(5)->getDisplayLine1());
}

TEST(ErrorList, MissingFileGivesAnEmptyCatalogue) {
    ErrorList list;
    testing::internal::CaptureStdout();
    list.load("/tmp/tvl-no-such-catalogue.csv");
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(0u, list.size());
}

TEST(ErrorList, UndefinedCodeGivesUnknownError) {
    ErrorList list;
    expectRecord(*list.lookup(123), 123, 2, "Unknown Error", "", "", "", true, false);
}

TEST(ErrorList, LookupsAreIndependentCopies) {
    ErrorList list;
    list.add(5, 1, "P", "Q", "R", "S", true, false);
    auto a = list.lookup(5);
    auto b = list.lookup(5);
    ASSERT_NE(a.get(), b.get());
    a->setDetail("Channel 2");
    EXPECT_EQ("", b->getDetail());
    EXPECT_EQ("", list.lookup(5)->getDetail());
    TvlError copy(*a);
    EXPECT_EQ("Channel 2", copy.getDetail());
    list.add(5, 3, "new", "", "", "T", false, true);   // add replaces
    EXPECT_EQ(3, list.lookup(5)->getKind());
    EXPECT_EQ(1, a->getKind());
}

TEST(ErrorList, InstanceLoadsTheInstrumentCatalogue) {
    testsupport::TempSandbox sandbox;   // filled with the shipped catalogue
    ErrorList* list = ErrorList::instance();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(list, ErrorList::instance());
    struct Expected {
        int code;
        const char* scpi;
    } shipped[] = {{-100, "Command error"}, {-200, "Execution error"},
                   {-350, "Queue overflow"}, {-500, "Power on"}};
    for (const Expected& e : shipped) EXPECT_EQ(e.scpi, list->lookup(e.code)->getScpiText());
    // Codes the channels raise: range refused and every card event.
    for (int code : {11, 1, 2, 4, 6, 9, 10}) {
        auto rec = list->lookup(code);
        EXPECT_NE("Unknown Error", rec->getDisplayLine1()) << code;
        EXPECT_TRUE(rec->isDisplayed()) << code;
        EXPECT_TRUE(rec->isScpiReported()) << code;
        EXPECT_GE(rec->getKind(), 1) << code;
        EXPECT_LE(rec->getKind(), 4) << code;
    }
    EXPECT_EQ(0, list->lookup(0)->getCode());
}
