#include "transfer/modHelper.h"

#include <filesystem>
#include <system_error>

#include "base/utf.h"

namespace vi2zezir::modHelper {

bool IsQuotingAppRunning(ObjectServices& services) {
    try {
        return services.GetObject(kQuotingAppClass) != nullptr;
    } catch (...) {
        return false; // any failure to attach means: not running
    }
}

bool FileExists(const std::u16string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    const std::filesystem::path p = text::ToPath(path);
    // A directory has no length to read; it is no template.
    if (std::filesystem::is_directory(p, ec)) return false;
    (void)std::filesystem::file_size(p, ec);
    return !ec;
}

} // namespace vi2zezir::modHelper
