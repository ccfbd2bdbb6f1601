#include "app/fetch.h"

#include "file/file_stream.h"
#include "http/download.h"

void build_temp_path(StringVar* temp_path) {
    const int32_t mark = string_mark();
    // A name that cannot be had reads as empty: tmp1 then goes to the
    // current directory.
    get_path_part(program_filename(mark), mark);
    append(TEMP_FILE_NAME);
    assign(temp_path, mark);
}

namespace {

// Whether a file can be made at path: one is made and removed again, so
// that nothing of ours is on disk before the answer's body begins.
bool can_create(const char* path) {
    HANDLE f = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    CloseHandle(f);
    DeleteFileA(path);
    return true;
}

void build_user_temp_path(StringVar* temp_path) {
    char directory[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof directory, directory);
    if (n == 0 || n >= sizeof directory) return; // the path stays as it was
    const int32_t mark = string_mark();
    append(directory);
    append(USER_TEMP_FILE_NAME);
    assign(temp_path, mark);
}

} // namespace

int32_t fetch_catalogue(const char* url, StringVar* temp_path, const StopFlag* stop,
                        DownloadReport* report) {
    DownloadReport own{};
    if (!report) report = &own;
    build_temp_path(temp_path);
    // A tmp1 left by an earlier run that was killed must not pass for this
    // run's catalogue when the download fails.
    delete_file(*temp_path);
    if (!can_create(*temp_path)) build_user_temp_path(temp_path);
    // A catalogue cut short is not used: its last element set may be cut
    // inside a line, and the previous norad_M2.txt is better than that.
    bool complete = false;
    const int32_t count = download_file(url, *temp_path, &complete, FETCH_BUDGET, stop, report);
    if (!complete) {
        delete_file(*temp_path);
        return 0;
    }
    return count;
}
