#include "NewFiles.h"

#include "Names.h"
#include "Text.h"

namespace vestrel::report {

NewFileResult CreateNewNumbered(TargetDirectory& dir, const std::u16string& name) {
    NewFileResult result;
    for (unsigned n = 0; n < kNameAlternatives; ++n) {
        TargetDirectory::Created created = dir.CreateNew(n == 0 ? name : NumberedName(name, n));
        if (created.status == TargetDirectory::Created::Status::kExists) continue;
        if (created.status == TargetDirectory::Created::Status::kCreated && created.file != nullptr) {
            result.file = std::move(created.file);
            result.name = created.name;
        } else {
            result.why = created.why.empty() ? "the file cannot be created" : created.why;
        }
        return result;
    }
    result.why = "the name and its " + std::to_string(kNameAlternatives - 1) + " numbered alternatives are taken (" +
                 ToUtf8(NumberedName(name, kNameAlternatives - 1)) + ")";
    return result;
}

}  // namespace vestrel::report
