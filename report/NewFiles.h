// Where extraction writes: files are only ever created new in the target
// directory, named from SafeExtractName, a taken name giving way to
// "name (1)", "name (2)"... up to one limit. The platform's side is a small
// seam (TargetDirectory), so both programs share the rule and a test can
// play the directory.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

namespace vestrel::report {

// A file just created for extraction, written front to back.
class NewFile {
public:
    virtual ~NewFile() = default;
    // Appends; false with `error` when the bytes could not all be written.
    virtual bool Write(const char* data, size_t size, std::string* error) = 0;
    // Closes it and removes it: it is ours and incomplete.
    virtual void Discard() = 0;
};

class TargetDirectory {
public:
    struct Created {
        enum class Status { kCreated, kExists, kFailed };
        Status status = Status::kFailed;
        std::unique_ptr<NewFile> file;  // kCreated
        std::u16string name;            // kCreated: as created (a platform may fit it to its limits)
        std::string why;                // kFailed: what the platform said
    };
    virtual ~TargetDirectory() = default;
    // Creates `name` new in the directory; never opens a file that exists.
    virtual Created CreateNew(const std::u16string& name) = 0;
};

// The name and its alternatives "name (1)" ... "name (9999)": no more.
constexpr unsigned kNameAlternatives = 10000;

struct NewFileResult {
    std::unique_ptr<NewFile> file;  // null: not created, `why` says so
    std::u16string name;
    std::string why;
};
// `name`, or the first of its alternatives not taken, created new in `dir`.
// A failure other than "exists" ends the search at once.
NewFileResult CreateNewNumbered(TargetDirectory& dir, const std::u16string& name);

}  // namespace vestrel::report
