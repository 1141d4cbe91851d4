// The updater's decision: command-line splitting, versions, the manifest.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "UpdateCheck.h"

using namespace korvane_update;
using Args = std::vector<std::wstring>;

namespace {
const std::string kManifest =
    "; test manifest\r\n"
    "[Q00000019]\r\n"
    "latest = v1.3\r\n"
    "urgent = 0\r\n";

std::vector<unsigned long> V(const std::string& s) {
    std::vector<unsigned long> v;
    EXPECT_TRUE(ParseVersion(s, &v)) << s;
    return v;
}

int Decide(const std::wstring& commandLine, const std::string& manifest) {
    return DecideExitCode(SplitCommandLine(commandLine), &manifest);
}
}  // namespace

TEST(UpdaterCommandLine, SplitsTheCallersLineAndAnUnquotedNameWithABlank) {
    EXPECT_EQ(SplitCommandLine(L"korvaneupdate.exe Q00000019 v1.2 scan.exe"),
              (Args{L"korvaneupdate.exe", L"Q00000019", L"v1.2", L"scan.exe"}));
    EXPECT_EQ(SplitCommandLine(L"korvaneupdate.exe Q00000019 v1.2 my tool.exe"),
              (Args{L"korvaneupdate.exe", L"Q00000019", L"v1.2", L"my", L"tool.exe"}));
    EXPECT_EQ(SplitCommandLine(L"\"C:\\a b\\korvaneupdate.exe\"\tQ1  v1 \"my tool.exe\"  "),
              (Args{L"C:\\a b\\korvaneupdate.exe", L"Q1", L"v1", L"my tool.exe"}));
}

TEST(UpdaterCommandLine, FollowsTheRuntimeQuoteAndBackslashRules) {
    EXPECT_EQ(SplitCommandLine(L"p a\\\\\"b c\" d"), (Args{L"p", L"a\\b c", L"d"}));
    EXPECT_EQ(SplitCommandLine(L"p a\\\"b"), (Args{L"p", L"a\"b"}));
    EXPECT_EQ(SplitCommandLine(L"p a\\b\\\\ \"\""), (Args{L"p", L"a\\b\\\\", L""}));
    EXPECT_EQ(SplitCommandLine(L"p \"a\"\"b\""), (Args{L"p", L"a\"b"}));
    EXPECT_EQ(SplitCommandLine(L"p \"unterminated \\"), (Args{L"p", L"unterminated \\"}));
    EXPECT_EQ(SplitCommandLine(L""), (Args{L""}));
    EXPECT_EQ(SplitCommandLine(L"C:\\dir\\p.exe"), (Args{L"C:\\dir\\p.exe"}));
}

TEST(UpdaterVersions, CompareNumericallyPartByPart) {
    EXPECT_GT(CompareVersions(V("v1.10"), V("v1.9")), 0);
    EXPECT_LT(CompareVersions(V("v1.2"), V("v1.10")), 0);
    EXPECT_EQ(CompareVersions(V("v1.2"), V("V1.2.0")), 0);
    EXPECT_GT(CompareVersions(V("1.2.0.1"), V("v1.2")), 0);
    EXPECT_EQ(CompareVersions(V("v01.002"), V("v1.2")), 0);
    EXPECT_EQ(V("v999999999.0"), (std::vector<unsigned long>{999999999UL, 0UL}));
}

TEST(UpdaterVersions, RejectsMalformedText) {
    std::vector<unsigned long> v{7};
    for (const char* bad : {"", "v", "vv1", "1.", ".1", "1..2", "v1.2a", "1,2", " 1.2", "-1",
                            "v1234567890", "1.2.3.4.5.6.7.8.9", "v1.2 "}) {
        EXPECT_FALSE(ParseVersion(bad, &v)) << bad;
    }
    EXPECT_EQ(v, (std::vector<unsigned long>{7}));
}

TEST(UpdaterManifest, ReadsTheEntryOfTheCatalogueCode) {
    ManifestEntry e;
    ASSERT_TRUE(FindManifestEntry(kManifest, "Q00000019", &e));
    EXPECT_EQ(e.strLatest, "v1.3");
    EXPECT_FALSE(e.bUrgent);
    ASSERT_TRUE(FindManifestEntry("\xEF\xBB\xBF# other tools first\n[Q1]\nlatest=v9\nurgent=1\n"
                                  "[q00000019]\nURGENT=1\nLatest=v2.0\nchannel=beta\n[Q2]\nlatest=v0\n",
                                  "Q00000019", &e));
    EXPECT_EQ(e.strLatest, "v2.0");
    EXPECT_TRUE(e.bUrgent);
    EXPECT_FALSE(FindManifestEntry(kManifest, "Q00000020", &e));
}

TEST(UpdaterManifest, UnusableEntriesAndDamagedFilesGiveNoEntry) {
    ManifestEntry e;
    const char* bad[] = {
        "",
        "[Q00000019]\nurgent=1\n",                       // no latest version
        "[Q00000019]\nlatest=soon\n",                    // not a version
        "[Q00000019]\nlatest=v2\nurgent=yes\n",          // urgent is 0 or 1
        "[Q00000019]\nlatest=v2\ngarbage line\n",        // not key=value
        "[Q00000019\nlatest=v2\n",                       // open section
        "[Q 19]\nlatest=v2\n",                           // not a code
        "[Q00000019]\n=v2\n",                            // no key
    };
    for (const char* m : bad) EXPECT_FALSE(FindManifestEntry(m, "Q00000019", &e)) << m;
    std::string withNul("[Q00000019]\nlatest=v2\n\0\n", 24);
    EXPECT_FALSE(FindManifestEntry(withNul, "Q00000019", &e));
}

TEST(UpdaterDecision, NewerGivesUpdateUrgentGivesOpenNowOtherwiseNothing) {
    const std::wstring call = L"korvaneupdate.exe Q00000019 v1.2 vestrel.exe";
    EXPECT_EQ(Decide(call, kManifest), kUpdateAvailable);
    EXPECT_EQ(Decide(call, "[Q00000019]\nlatest=v1.10\nurgent=1\n"), kUpdateUrgent);
    EXPECT_EQ(Decide(call, "[Q00000019]\nlatest=v1.2\nurgent=1\n"), kNothingToDo);
    EXPECT_EQ(Decide(call, "[Q00000019]\nlatest=v1.1.9\n"), kNothingToDo);
    EXPECT_EQ(Decide(call, "[Q00000020]\nlatest=v9\n"), kNothingToDo);
    EXPECT_EQ(Decide(L"korvaneupdate.exe Q00000019 v1.2 my tool.exe", kManifest), kUpdateAvailable);
    EXPECT_EQ(DecideExitCode(SplitCommandLine(call), nullptr), kNothingToDo);
}

TEST(UpdaterDecision, MalformedArgumentsOrOversizedManifestGiveNothing) {
    for (const wchar_t* call : {L"korvaneupdate.exe", L"korvaneupdate.exe Q00000019 v1.2",
                                L"korvaneupdate.exe Q00000019 v1.2 \"\"", L"korvaneupdate.exe Q00000019 1.x a.exe",
                                L"korvaneupdate.exe Q0000\x4E00 v1.2 a.exe", L"korvaneupdate.exe \"\" v1.2 a.exe",
                                L"korvaneupdate.exe Q-19 v1.2 a.exe"}) {
        EXPECT_EQ(Decide(call, kManifest), kNothingToDo) << std::string(call, call + wcslen(call));
    }
    std::string big = kManifest + std::string(kMaxManifestBytes, '\n');
    EXPECT_EQ(Decide(L"korvaneupdate.exe Q00000019 v1.2 a.exe", big), kNothingToDo);
    std::string justFits = kManifest + std::string(kMaxManifestBytes - kManifest.size(), '\n');
    EXPECT_EQ(Decide(L"korvaneupdate.exe Q00000019 v1.2 a.exe", justFits), kUpdateAvailable);
}

// The manifest the release ships beside the updater: inert as it is, with the
// line ends of the source tree and of the Windows package (CRLF); its example
// entry, once a user removes the comment marks, announces an update to the
// version of the program that asks.
namespace {
std::string ShippedManifest() {
    std::ifstream in(SHIPPED_UPDATER_INI, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WithCrlf(const std::string& lf) {
    std::string out;
    for (char c : lf) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// What a user does to the example: drops the ';' of each commented-out line
// (";[Q...]", ";latest = ..."), leaving the prose ("; text") alone.
std::string Uncommented(const std::string& text) {
    std::string out;
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool example = lineStart && text[i] == ';' && i + 1 < text.size() &&
                             std::string(" \t\r\n").find(text[i + 1]) == std::string::npos;
        if (!example) out += text[i];
        lineStart = text[i] == '\n';
    }
    return out;
}
}  // namespace

TEST(ShippedUpdaterManifest, AnswersNothingUntilTheExampleIsUncommented) {
    const std::string shipped = ShippedManifest();
    ASSERT_FALSE(shipped.empty()) << SHIPPED_UPDATER_INI;
    ASSERT_EQ(shipped.find('\r'), std::string::npos) << "kept with LF in the tree, packaged with CRLF";
    EXPECT_LE(WithCrlf(shipped).size(), kMaxManifestBytes);
    const std::wstring call = L"korvaneupdate.exe Q00000019 v1.2 vestrel.exe";
    for (const std::string& text : {shipped, WithCrlf(shipped)}) {
        ManifestEntry e;
        EXPECT_FALSE(FindManifestEntry(text, "Q00000019", &e));
        EXPECT_EQ(Decide(call, text), kNothingToDo);
        const std::string edited = Uncommented(text);
        ASSERT_TRUE(FindManifestEntry(edited, "Q00000019", &e)) << edited;
        EXPECT_FALSE(e.bUrgent);
        EXPECT_EQ(Decide(call, edited), kUpdateAvailable);
        // Newer than this version only: a copy already at it is left alone.
        EXPECT_EQ(Decide(L"korvaneupdate.exe Q00000019 " + std::wstring(e.strLatest.begin(), e.strLatest.end()) +
                             L" vestrel.exe",
                         edited),
                  kNothingToDo);
    }
}
