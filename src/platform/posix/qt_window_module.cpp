#include "platform/posix/qt_window_module.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/utf.h"
#include "vi2zezir_version.h"

namespace vi2zezir::posix {

namespace {

void WithoutWindow(const std::string& why) {
    std::fprintf(stderr, "vi2zezir: %s; running without a window\n", why.c_str());
}

} // namespace

std::optional<int> RunQtWindowModule(QtWindowRequest& request) {
    const std::filesystem::path programDirectory = text::ToUtf8(request.environment.programDirectory);
    const std::filesystem::path places[] = {programDirectory / VZ_QT_MODULE_FILE,
                                            programDirectory / VZ_QT_MODULE_INSTALL_DIR / VZ_QT_MODULE_FILE};
    for (const std::filesystem::path& place : places) {
        std::error_code ec;
        if (!std::filesystem::exists(place, ec)) continue;
        const std::filesystem::path path = place.lexically_normal();
        // Every symbol is bound now: a module that does not fit this program
        // fails here, with the symbol named, never in the middle of a transfer.
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            WithoutWindow(std::string("the Qt window cannot be loaded: ") + ::dlerror());
            return std::nullopt;
        }
        const auto* version = static_cast<const char*>(::dlsym(module, "vi2zezir_qt_window_version"));
        const auto entry = reinterpret_cast<decltype(&vi2zezir_qt_window)>(::dlsym(module, "vi2zezir_qt_window"));
        if (!version || !entry || std::strcmp(version, VI2ZEZIR_VERSION) != 0) {
            WithoutWindow(path.string() + " is not the Qt window of vi2zezir " VI2ZEZIR_VERSION);
            ::dlclose(module);
            return std::nullopt;
        }
        return entry(request); // the module stays for the rest of the program's life
    }
    WithoutWindow("the Qt window module " VZ_QT_MODULE_FILE " is neither beside the program nor in " +
                  (programDirectory / VZ_QT_MODULE_INSTALL_DIR).lexically_normal().string());
    return std::nullopt;
}

} // namespace vi2zezir::posix
