// Host build only: the Win32 declarations that the window-free libraries use,
// implemented over POSIX in this folder. Each call behaves as its Win32
// namesake for the arguments this program passes; nothing more is offered.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = unsigned int;
using ULONGLONG = uint64_t;
using SIZE_T = size_t;
using HANDLE = void*;
using HMODULE = void*;
using HINSTANCE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;
using PLONG = LONG*;
using FARPROC = void (*)();

#define WINAPI
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(intptr_t(-1)))
#define INVALID_FILE_ATTRIBUTES (DWORD(0xFFFFFFFF))
#define INVALID_SET_FILE_POINTER (DWORD(0xFFFFFFFF))
#define MAX_PATH 260

constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
// 100-ns intervals since 1 January 1601, UTC.
struct FILETIME {
    DWORD dwLowDateTime, dwHighDateTime;
};
struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;

// Heaps: every block is tracked so that HeapDestroy frees the whole heap. A
// non-zero maximum size makes the heap fixed, as on Windows: allocations
// that would pass it fail.
HANDLE HeapCreate(DWORD options, SIZE_T initial_size, SIZE_T maximum_size);
BOOL HeapDestroy(HANDLE heap);
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID block);

// Files
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD attributes, HANDLE template_file);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, OVERLAPPED* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(LPCSTR name);
BOOL FlushFileBuffers(HANDLE file);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
// The temporary directory ($TMPDIR, else /tmp) with its trailing separator.
DWORD GetTempPathA(DWORD size, LPSTR buffer);
DWORD GetFileAttributesA(LPCSTR name);
BOOL SetFileAttributesA(LPCSTR name, DWORD attributes);
// Only the last-write time is kept: creation and access times read as 0 and
// are ignored when set.
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* access, FILETIME* write);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* access,
                 const FILETIME* write);

// The error of the last call that failed, as Windows numbers it, from the
// C library's errno: 2 no such file, 3 no such path, 5 access denied, 32 in
// use, 112 disk full; 31 (a device error) for any other.
DWORD GetLastError();
void SetLastError(DWORD error);

// Process and module
HMODULE GetModuleHandleA(LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size);
[[noreturn]] void ExitProcess(UINT code);

// Threads and named mutexes (platform/threads.cpp): a thread's handle is
// signalled when it returned; a mutex is recursive for its owner. Named
// mutexes live in this process. CloseHandle closes these handles too.
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD MUTEX_MODIFY_STATE = 0x0001;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
HANDLE CreateThread(SECURITY_ATTRIBUTES* security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                    LPVOID argument, DWORD flags, LPDWORD id);
HANDLE CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initial_owner, LPCSTR name);
HANDLE OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
bool posix_close_sync_handle(HANDLE object);
inline LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand) {
    return __sync_val_compare_and_swap(target, comparand, exchange);
}
inline LONG InterlockedExchange(volatile LONG* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

// Time
void Sleep(DWORD milliseconds);
void GetLocalTime(SYSTEMTIME* time);
ULONGLONG GetTickCount64();
void GetSystemTimeAsFileTime(FILETIME* time);

// Run-time loading: only the modules this layer provides can be loaded.
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

// Test seam of the host layer: the blocks a heap holds now and the number of
// allocations it ever made, so tests can show that a path leaves nothing
// allocated or never touches the heap.
void posix_heap_counts(HANDLE heap, SIZE_T* live_blocks, SIZE_T* allocations);
// Test seam of the host layer: the name GetModuleFileNameA reports (null
// restores the real one), so tests can give the program any path.
void posix_set_module_file_name(const char* name);
