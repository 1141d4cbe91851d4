// The updater's decision, free of the platform: split its command line, read
// the update manifest, compare versions, and choose the exit code.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace korvane_update {

// Exit codes the calling program reacts to.
enum : int {
    kNothingToDo = 0,
    kUpdateAvailable = 100,
    kUpdateUrgent = 101,
};

// Manifests larger than this are not read (treated as unreadable).
const std::size_t kMaxManifestBytes = 64 * 1024;

// Splits a Windows command line into arguments by the C runtime's rules:
// blanks and tabs separate, double quotes group, 2n backslashes before a quote
// give n backslashes and the quote toggles grouping, 2n+1 give n and a
// literal quote. The program name (first argument) ends at the first blank or
// at its closing quote and takes backslashes literally.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// "v1.2", "V1.10.3", "2": an optional v, then 1 to 8 dot-separated decimal
// numbers of 1 to 9 digits each. Returns false (and leaves out alone) on
// anything else.
bool ParseVersion(const std::string& text, std::vector<unsigned long>* out);
// -1, 0 or 1 as a is older, equal to or newer than b; missing trailing
// numbers count as 0 (v1.2 == v1.2.0). Both must be parsed versions.
int CompareVersions(const std::vector<unsigned long>& a, const std::vector<unsigned long>& b);

struct ManifestEntry {
    std::string strLatest;  // latest version, as written
    bool bUrgent = false;
};

// Finds the section of catalogue code `code` in the manifest text. False when
// the section is absent or its entry is unusable (no valid latest version, an
// urgent value other than 0 or 1, a line that is not a section, a key=value
// pair or a comment).
bool FindManifestEntry(const std::string& manifest, const std::string& code, ManifestEntry* entry);

// The whole decision: args as split from the updater's command line (the
// program name first), manifest the manifest's bytes or null when it could
// not be read.
int DecideExitCode(const std::vector<std::wstring>& args, const std::string* manifest);

}  // namespace korvane_update
