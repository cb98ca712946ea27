// The manual pages kept in step with the programs: every long option
// velmora-deblur's --help lists is described in velmora-deblur(1), and
// every exit status it names too; both pages render without a complaint
// from man.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "tool_runner.h"

namespace {

namespace fs = std::filesystem;
using velmora::testing::Quote;
using velmora::testing::ReadText;
using velmora::testing::RunTool;
using velmora::testing::ScratchFolder;

const fs::path kManFolder = fs::path(VELMORA_SOURCE_DIR) / "man";

std::string ToolHelp() {
  const ScratchFolder folder;
  const velmora::testing::ToolRun run = RunTool(folder, {"--help"});
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

// The long options a text names: "--blur-size" and the like.
std::set<std::string> LongOptions(const std::string& text) {
  static const std::regex option(R"(--[a-z][a-z0-9-]*[a-z0-9])");
  std::set<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
    found.insert(it->str());
  return found;
}

// The page's text with roff's escaped minus ("\-") read as the hyphen man
// shows: what a reader searching the page for an option finds.
std::string PageText(const std::string& name) {
  std::string text = ReadText(kManFolder / (name + ".1.in"));
  EXPECT_FALSE(text.empty()) << name;
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// The page's section from its heading to the next.
std::string Section(const std::string& page, const std::string& heading) {
  const size_t start = page.find(".SH " + heading + "\n");
  if (start == std::string::npos) return {};
  const size_t end = page.find("\n.SH ", start + 1);
  return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST(ManPages, DescribeEveryLongOptionOfTheToolsHelp) {
  const std::string help = ToolHelp();
  const std::set<std::string> options = LongOptions(help);
  // The parser's own and the tool's: a help text that lost them would pass
  // anything.
  for (const char* sure : {"--help", "--version", "--blur-size", "--output-dir", "--kernel-out"})
    ASSERT_TRUE(options.count(sure)) << sure << " is missing from --help:\n" << help;
  const std::string described = Section(PageText("velmora-deblur"), "OPTIONS");
  ASSERT_FALSE(described.empty());
  for (const std::string& option : options) {
    // Described as an item of its own: at the start of a .TP tag line.
    const std::regex item("\\.TP\\n(\\.B[IR]? (-[a-z] \", \" )?|\\\\fB-[a-z]\\\\fR, \\\\fB)?" + option +
                          R"((\\fR)?[ \n])");
    EXPECT_TRUE(std::regex_search(described, item)) << option << " is in --help but has no item in OPTIONS";
  }
}

TEST(ManPages, NameNoLongOptionTheToolLacks) {
  const std::set<std::string> options = LongOptions(ToolHelp());
  for (const std::string& option : LongOptions(PageText("velmora-deblur")))
    EXPECT_TRUE(options.count(option)) << option << " is in velmora-deblur(1) but not in --help";
}

TEST(ManPages, ListEveryExitStatusOfTheToolsHelp) {
  const std::string help = ToolHelp();
  const size_t footer = help.find("Exit status:");
  ASSERT_NE(footer, std::string::npos) << help;
  const std::string statuses = Section(PageText("velmora-deblur"), "EXIT STATUS");
  ASSERT_FALSE(statuses.empty());
  static const std::regex number(R"(\b[0-9]+\b)");
  const std::string text = help.substr(footer);
  int seen = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator(); ++it) {
    const std::string status = it->str();
    const std::regex item("\\.TP\\n\\.BR? ([0-9]+ \", \" )?" + status + R"(\b)");
    EXPECT_TRUE(std::regex_search(statuses, item)) << "exit status " << status << " is not in EXIT STATUS";
    ++seen;
  }
  EXPECT_GE(seen, 6);  // 0, 1, 2, 3, 130, 143
}

TEST(ManPages, NameTheCacheFolder) {
  for (const char* page : {"velmora-deblur", "velmora"}) {
    const std::string files = Section(PageText(page), "FILES");
    EXPECT_NE(files.find("$XDG_CACHE_HOME/velmora/fftw-wisdom"), std::string::npos) << page;
    EXPECT_NE(files.find("~/.cache/velmora"), std::string::npos) << page;
  }
}

TEST(ManPages, RenderWithoutWarnings) {
  if (std::system("command -v man >/dev/null 2>&1") != 0) GTEST_SKIP() << "man is not installed";
  const ScratchFolder folder;
  for (const char* page : {"velmora-deblur", "velmora"}) {
    const fs::path source = kManFolder / (std::string(page) + ".1.in");
    const fs::path err = folder / (std::string(page) + ".err");
    const std::string command = "LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z " + Quote(source.string()) +
                                " >/dev/null 2>" + Quote(err.string());
    EXPECT_EQ(std::system(command.c_str()), 0) << page;
    EXPECT_EQ(ReadText(err), "") << page;
  }
}

}  // namespace
