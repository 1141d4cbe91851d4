// The user guide's demonstration documents in an NTFS image, so vestrel-ntfs
// shows the same rows as the dialog and vestrel-cli.
#include "DemoTree.h"
#include "Fixture.h"

namespace vestrel::ntfs::fixture {

bool BuildDemo(const std::string& image, std::string* error) {
    if (!Format(image, 16ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    bool ok = true;
    for (const testing_support::DemoFile& f : testing_support::DemoDocuments()) {
        std::vector<Stream> streams;
        for (const testing_support::DemoStream& s : f.streams) streams.push_back({s.name, s.bytes.size(), false, false, s.bytes});
        ok = ok && w.AddFile(u"\\Users\\demo\\Documents\\" + f.path, streams, f.content);
    }
    if (!ok) *error = w.error();
    return w.Close() && ok;
}

}  // namespace vestrel::ntfs::fixture
