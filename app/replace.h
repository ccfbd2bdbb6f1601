// Replacing the station's element file whole or not at all: the new set is
// written to a file of one fixed name beside it, flushed to the disk and
// moved over it. A reader of the file sees the old set or the new one, never
// a partial one, whatever happens in between.
#pragma once

#include <cstdint>

// The new set's name: the element file's name with this appended. One fixed
// name, so a file left by a killed run is simply replaced by the next run.
constexpr char REPLACEMENT_SUFFIX[] = ".new";

// Writes name, line1 and line2 (as lines ended by CR LF) to path + ".new" as
// file 10 and moves it over path. True only when the new set is on disk under
// path; otherwise the new file is deleted and path is left as it was, and
// *error (when given) is the system's error of the call that failed.
bool replace_element_file(const char* path, const char* name, const char* line1, const char* line2,
                          uint32_t* error = nullptr);
