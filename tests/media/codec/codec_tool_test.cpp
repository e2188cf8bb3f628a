// The parlo-codec command-line tool, run as a program.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Standard output of the tool with the given arguments.
std::string run_tool(const std::string& args) {
    const std::string command = std::string(PARLO_CODEC_BIN) + " " + args + " 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return {};
    std::string out;
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

TEST(CodecTool, TablesSnapTheQualityAsTheLibraryDoes) {
    EXPECT_EQ("quality 70 (scale 70%)", first_line(run_tool("tables")));
    EXPECT_EQ("quality 50", first_line(run_tool("tables -q -20")).substr(0, 10));
    EXPECT_EQ("quality 50", first_line(run_tool("tables -q 0")).substr(0, 10));
    EXPECT_EQ("quality 90", first_line(run_tool("tables -q 95")).substr(0, 10));
    EXPECT_EQ("quality 100", first_line(run_tool("tables -q 250")).substr(0, 11));
}

}  // namespace
