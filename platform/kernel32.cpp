// Files, the module's file name, time and sleeping over POSIX. File handles
// are heap records around a descriptor, so a stale or foreign handle is not
// a descriptor number that might be valid by chance.
#include "platform/win32_posix.h"

#include "platform/faults.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t file_magic = 0x46494C45; // "FILE"

struct FileHandle {
    uint32_t magic;
    int fd;
};

FileHandle* file_of(HANDLE h) {
    auto* f = static_cast<FileHandle*>(h);
    if (!f || h == INVALID_HANDLE_VALUE || f->magic != file_magic) return nullptr;
    return f;
}

const char* module_name_override;

// Seconds from 1601 to 1970.
constexpr int64_t unix_epoch_in_filetime = 11644473600LL * 10000000;

FILETIME filetime_of(const timespec& t) {
    const uint64_t v =
        uint64_t(int64_t(t.tv_sec) * 10000000 + t.tv_nsec / 100 + unix_epoch_in_filetime);
    return FILETIME{DWORD(v), DWORD(v >> 32)};
}

timespec timespec_of(const FILETIME& f) {
    const int64_t v =
        int64_t((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) - unix_epoch_in_filetime;
    int64_t seconds = v / 10000000, rest = v % 10000000;
    if (rest < 0) {
        seconds--;
        rest += 10000000;
    }
    return timespec{time_t(seconds), long(rest * 100)};
}

} // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, SECURITY_ATTRIBUTES*, DWORD disposition, DWORD,
                   HANDLE) {
    if (!name || !*name || posix_fault(FaultCall::create_file)) return INVALID_HANDLE_VALUE;
    int flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        flags |= O_RDWR;
    else if (access & GENERIC_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        return INVALID_HANDLE_VALUE;
    }
    // Windows refuses to write a read-only file even for its owner; so do we,
    // root or not.
    struct stat st;
    if (stat(name, &st) == 0) {
        if (S_ISDIR(st.st_mode)) return INVALID_HANDLE_VALUE;
        if ((access & GENERIC_WRITE) && !(st.st_mode & S_IWUSR)) return INVALID_HANDLE_VALUE;
    }
    int fd = open(name, flags, 0666);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    auto* f = static_cast<FileHandle*>(std::malloc(sizeof(FileHandle)));
    if (!f) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    f->magic = file_magic;
    f->fd = fd;
    return f;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read_count, OVERLAPPED*) {
    if (read_count) *read_count = 0;
    FileHandle* f = file_of(file);
    if (!f || posix_fault(FaultCall::read_file)) return FALSE;
    ssize_t n;
    do
        n = read(f->fd, buffer, bytes);
    while (n < 0 && errno == EINTR);
    if (n < 0) return FALSE;
    if (read_count) *read_count = DWORD(n);
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, OVERLAPPED*) {
    if (written) *written = 0;
    FileHandle* f = file_of(file);
    if (!f || posix_fault(FaultCall::write_file)) return FALSE; // as a full disk would
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = write(f->fd, static_cast<const char*>(buffer) + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += DWORD(n);
    }
    if (written) *written = done;
    return done == bytes;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
    FileHandle* f = file_of(file);
    if (!f || distance_high) return INVALID_SET_FILE_POINTER;
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t at = lseek(f->fd, distance, whence);
    if (at < 0 || at > off_t(UINT32_MAX - 1)) return INVALID_SET_FILE_POINTER;
    return DWORD(at);
}

BOOL CloseHandle(HANDLE object) {
    FileHandle* f = file_of(object);
    if (!f) return posix_close_sync_handle(object) ? TRUE : FALSE;
    close(f->fd);
    f->magic = 0;
    std::free(f);
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    FileHandle* f = file_of(file);
    if (!f || posix_fault(FaultCall::flush_file)) return FALSE;
    return fsync(f->fd) == 0;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    struct stat st;
    if (!from || !to || posix_fault(FaultCall::move_file) || lstat(from, &st) != 0) return FALSE;
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && lstat(to, &st) == 0) return FALSE;
    if (lstat(to, &st) == 0 && S_ISDIR(st.st_mode)) return FALSE;
    if (rename(from, to) != 0) return FALSE;
    if (flags & MOVEFILE_WRITE_THROUGH) {
        // The new name reaches the disk with the directory that holds it.
        const char* slash = std::strrchr(to, '/');
        std::string dir = slash ? std::string(to, size_t(slash - to + 1)) : std::string(".");
        const int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            fsync(d);
            close(d);
        }
    }
    return TRUE;
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    const size_t n = std::strlen(dir);
    const bool slash = dir[n - 1] == '/';
    const DWORD need = DWORD(n + (slash ? 0 : 1));
    if (!buffer || size <= need) return need + 1;
    std::memcpy(buffer, dir, n);
    if (!slash) buffer[n] = '/';
    buffer[need] = 0;
    return need;
}

BOOL DeleteFileA(LPCSTR name) {
    struct stat st;
    if (!name || posix_fault(FaultCall::delete_file) || stat(name, &st) != 0 || S_ISDIR(st.st_mode))
        return FALSE;
    if (!(st.st_mode & S_IWUSR)) return FALSE; // read-only files are not deleted
    return unlink(name) == 0;
}

DWORD GetFileAttributesA(LPCSTR name) {
    struct stat st;
    if (!name || stat(name, &st) != 0) return INVALID_FILE_ATTRIBUTES;
    DWORD a = S_ISDIR(st.st_mode) ? 0x10 : 0;
    if (!(st.st_mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
    return a ? a : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
    struct stat st;
    if (!name || stat(name, &st) != 0) return FALSE;
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? mode & ~mode_t(0222) : mode | S_IWUSR;
    return chmod(name, mode) == 0;
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* access, FILETIME* write) {
    FileHandle* f = file_of(file);
    struct stat st;
    if (!f || fstat(f->fd, &st) != 0) return FALSE;
    if (creation) *creation = FILETIME{0, 0};
    if (access) *access = FILETIME{0, 0};
    if (write) *write = filetime_of(st.st_mtim);
    return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME*, const FILETIME*, const FILETIME* write) {
    FileHandle* f = file_of(file);
    if (!f) return FALSE;
    if (!write) return TRUE;
    const timespec times[2] = {{0, UTIME_OMIT}, timespec_of(*write)};
    return futimens(f->fd, times) == 0;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    static char self;
    return name ? nullptr : &self;
}

DWORD GetModuleFileNameA(HMODULE, LPSTR name, DWORD size) {
    if (!name || size == 0) return 0;
    char path[PATH_MAX + 1];
    size_t n;
    if (module_name_override) {
        n = std::strlen(module_name_override);
        std::memcpy(path, module_name_override, n < PATH_MAX ? n : PATH_MAX);
        if (n > PATH_MAX) n = PATH_MAX;
    } else {
        ssize_t r = readlink("/proc/self/exe", path, PATH_MAX);
        if (r < 0) return 0;
        n = size_t(r);
    }
    // As on Windows: a name that does not fit is cut and the size returned.
    if (n >= size) {
        std::memcpy(name, path, size - 1);
        name[size - 1] = 0;
        return size;
    }
    std::memcpy(name, path, n);
    name[n] = 0;
    return DWORD(n);
}

void posix_set_module_file_name(const char* name) {
    module_name_override = name;
}

void ExitProcess(UINT code) {
    std::exit(int(code));
}

void SetLastError(DWORD error) {
    switch (error) {
    case 2:
        errno = ENOENT;
        break;
    case 3:
        errno = ENOTDIR;
        break;
    case 5:
        errno = EACCES;
        break;
    case 32:
        errno = EBUSY;
        break;
    case 112:
        errno = ENOSPC;
        break;
    default:
        errno = error ? EIO : 0;
        break;
    }
}

DWORD GetLastError() {
    switch (errno) {
    case ENOENT:
        return 2;
    case ENOTDIR:
        return 3;
    case EACCES:
    case EPERM:
    case EISDIR:
        return 5;
    case EBUSY:
    case ETXTBSY:
        return 32;
    case ENOSPC:
        return 112;
    case EEXIST:
        return 183; // ERROR_ALREADY_EXISTS
    case 0:
        return 0;
    default:
        return 31;
    }
}

void Sleep(DWORD milliseconds) {
    timespec t{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

void GetLocalTime(SYSTEMTIME* out) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm t;
    localtime_r(&now.tv_sec, &t);
    out->wYear = WORD(t.tm_year + 1900);
    out->wMonth = WORD(t.tm_mon + 1);
    out->wDayOfWeek = WORD(t.tm_wday);
    out->wDay = WORD(t.tm_mday);
    out->wHour = WORD(t.tm_hour);
    out->wMinute = WORD(t.tm_min);
    out->wSecond = WORD(t.tm_sec);
    out->wMilliseconds = WORD(now.tv_nsec / 1000000);
}

ULONGLONG GetTickCount64() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return ULONGLONG(now.tv_sec) * 1000 + ULONGLONG(now.tv_nsec / 1000000);
}

void GetSystemTimeAsFileTime(FILETIME* out) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    *out = filetime_of(now);
}
