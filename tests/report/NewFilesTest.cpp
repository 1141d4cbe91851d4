// Extraction's naming rule against a directory played by the test: a taken
// name gives way to "name (n)" up to the limit, and any other failure ends
// the search at once.
#include <gtest/gtest.h>

#include <set>

#include "Names.h"
#include "NewFiles.h"
#include "Text.h"

namespace vestrel::report {
namespace {

class FakeFile : public NewFile {
public:
    bool Write(const char*, size_t, std::string*) override { return true; }
    void Discard() override {}
};

// Names in `taken` exist; the call numbered `failAt` (from 1) fails.
class FakeDirectory : public TargetDirectory {
public:
    std::set<std::u16string> taken;
    unsigned failAt = 0;
    unsigned calls = 0;
    Created CreateNew(const std::u16string& name) override {
        Created c;
        ++calls;
        if (calls == failAt) {
            c.status = Created::Status::kFailed;
            c.why = "disk full";
        } else if (!taken.insert(name).second) {
            c.status = Created::Status::kExists;
        } else {
            c.status = Created::Status::kCreated;
            c.file = std::make_unique<FakeFile>();
            c.name = name;
        }
        return c;
    }
};

TEST(NewFiles, ATakenNameGivesWayToNumberedOnesUpToTheLimit) {
    struct Case {
        unsigned taken;      // the name and its first alternatives, this many in all
        unsigned failAt;     // 0: no failure
        const char16_t* created;  // null: none
        unsigned calls;
        const char* why;
    };
    const Case cases[] = {
        {0, 0, u"a.txt", 1, ""},
        {1, 0, u"a (1).txt", 2, ""},
        {2, 0, u"a (2).txt", 3, ""},
        {kNameAlternatives - 1, 0, u"a (9999).txt", kNameAlternatives, ""},
        {kNameAlternatives, 0, nullptr, kNameAlternatives,
         "the name and its 9999 numbered alternatives are taken (a (9999).txt)"},
        {0, 1, nullptr, 1, "disk full"},
        {5, 3, nullptr, 3, "disk full"},  // stops at the failure, not at the limit
    };
    for (const Case& c : cases) {
        FakeDirectory dir;
        for (unsigned n = 0; n < c.taken; ++n) dir.taken.insert(n == 0 ? u"a.txt" : NumberedName(u"a.txt", n));
        dir.failAt = c.failAt;
        const NewFileResult r = CreateNewNumbered(dir, u"a.txt");
        EXPECT_EQ(dir.calls, c.calls) << c.taken << " " << c.failAt;
        EXPECT_EQ(r.why, c.why) << c.taken;
        if (c.created == nullptr) {
            EXPECT_EQ(r.file, nullptr) << c.taken;
        } else {
            EXPECT_NE(r.file, nullptr) << c.taken;
            EXPECT_EQ(ToUtf8(r.name), ToUtf8(c.created)) << c.taken;
        }
    }
}

}  // namespace
}  // namespace vestrel::report
