// Standard C++ has no exclusive create, no flush to the disk and no rename
// over an existing file on every system, so those three steps call the
// system itself: POSIX on Linux, the C runtime and Win32 on Windows.
#include "workbook/output_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vi2zezir::workbook {
namespace {

namespace fs = std::filesystem;

std::string Reason(int error) { return std::generic_category().message(error); }

// Creates the file only where no file of that name exists: -1 with errno
// set otherwise.
int CreateNew(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
#endif
}

int CloseFile(int fd) {
#ifdef _WIN32
    return _close(fd);
#else
    return ::close(fd);
#endif
}

// 0, or the errno of the step that failed.
int WriteAndFlush(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
#ifdef _WIN32
        const auto chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        const int n = _write(fd, bytes.data() + done, chunk);
#else
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
#ifdef _WIN32
    if (_commit(fd) != 0) return errno;
#else
    if (::fsync(fd) != 0) return errno;
#endif
    return 0;
}

// Replaces `to` with `from` in one step: a reader sees one or the other.
void RenameOver(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw Error(ErrorKind::CannotWrite, std::system_category().message(static_cast<int>(GetLastError())));
#else
    if (::rename(from.c_str(), to.c_str()) != 0) throw Error(ErrorKind::CannotWrite, Reason(errno));
    // The new name must reach the disk as well as the data. Not every file
    // system can flush a folder; the file is complete either way, so a
    // refusal here fails nothing.
    const fs::path folder = to.has_parent_path() ? to.parent_path() : fs::path(".");
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
#endif
}

// A name for the temporary file beside the target that no one else is
// likely to pick; the exclusive create settles it when someone does.
fs::path TemporaryName(const fs::path& target, std::minstd_rand& random) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    fs::path name = target;
    name += suffix;
    return name;
}

} // namespace

void WriteFileAtomically(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        target = fs::weakly_canonical(path, ec);
        if (ec) throw Error(ErrorKind::CannotWrite, "the link cannot be followed: " + ec.message());
    }
    std::minstd_rand random(std::random_device{}() ^
                            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    int fd = -1;
    fs::path temporary;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryName(target, random);
        fd = CreateNew(temporary);
        if (fd < 0 && errno != EEXIST) throw Error(ErrorKind::CannotWrite, Reason(errno));
    }
    if (fd < 0) throw Error(ErrorKind::CannotWrite, "no temporary file could be created beside it");
    const int written = WriteAndFlush(fd, bytes);
    const int closed = CloseFile(fd) == 0 ? 0 : errno;
    try {
        if (written != 0 || closed != 0) throw Error(ErrorKind::CannotWrite, Reason(written != 0 ? written : closed));
        RenameOver(temporary, target);
    } catch (const Error&) {
        fs::remove(temporary, ec);
        throw;
    }
}

fs::path ClaimFilledName(const fs::path& folder, const fs::path& stem, std::string_view extension) {
    for (int n = 1; n < 100000; ++n) {
        fs::path candidate = folder / stem;
        candidate += "-filled-" + std::to_string(n) + std::string(extension);
        const int fd = CreateNew(candidate);
        if (fd >= 0) {
            if (CloseFile(fd) != 0) {
                const int error = errno;
                std::error_code ec;
                fs::remove(candidate, ec);
                throw Error(ErrorKind::CannotWrite, Reason(error));
            }
            return candidate;
        }
        if (errno != EEXIST) throw Error(ErrorKind::CannotWrite, Reason(errno));
    }
    throw Error(ErrorKind::CannotWrite, "no new file name is free");
}

} // namespace vi2zezir::workbook
