#include "fileio.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <random>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace patterns::fileio {

namespace {

// The errno value of a Win32 error, for the errors a save meets.
int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
        return EINVAL;
    default:
        return EIO;
    }
}

} // namespace

int openRegularForReading(const std::filesystem::path &path)
{
    // Folders hold no FIFOs on Windows; the type test still turns away a
    // folder or a device that the name might reach.
    const int fd = ::_wopen(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return -1;
    struct _stat64 status {};
    if (::_fstat64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
        ::_close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

long readSome(int fd, char *buffer, std::size_t size)
{
    const unsigned count = size > unsigned(INT_MAX) ? unsigned(INT_MAX) : unsigned(size);
    return long(::_read(fd, buffer, count));
}

int createTemporary(const std::filesystem::path &folder, std::filesystem::path &path)
{
    std::random_device entropy;
    std::mt19937 random(entropy());
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = ".bw2-save-";
        for (int i = 0; i < 8; ++i)
            name += alphabet[random() % (sizeof alphabet - 1)];
        path = folder / name;
        const int fd = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAllAndSync(int fd, std::string_view text)
{
    while (!text.empty()) {
        const unsigned chunk = text.size() > 1u << 20 ? 1u << 20 : unsigned(text.size());
        const int written = ::_write(fd, text.data(), chunk);
        if (written < 0)
            return false;
        text.remove_prefix(std::size_t(written));
    }
    return ::_commit(fd) == 0;
}

int closeFile(int fd)
{
    return ::_close(fd);
}

bool isReadOnly(const std::filesystem::path &path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
           && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

int replaceFile(const std::filesystem::path &from, const std::filesystem::path &to)
{
    if (to.filename().native().size() > 255)
        return ENAMETOOLONG; // longer than any Windows file system stores
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD error = ::GetLastError();
    // The folder was just found for the temporary file, so a path that is
    // not found now is one that grew too long with the name.
    if (error == ERROR_PATH_NOT_FOUND) {
        const DWORD folder = ::GetFileAttributesW(to.parent_path().c_str());
        if (folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return ENAMETOOLONG;
    }
    return errnoOf(error);
}

void syncFolder(const std::filesystem::path &)
{
    // MOVEFILE_WRITE_THROUGH already waited for the move to reach the disk.
}

} // namespace patterns::fileio
