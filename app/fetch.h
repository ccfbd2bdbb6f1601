// The fetch step: downloads the catalogue into the temporary file "tmp1" in
// the directory of the executable, or into the user's temporary directory
// when it cannot be made there. The path is a string variable of the
// string engine; the file is the caller's to read and delete.
#pragma once

#include <cstdint>

#include "core/strings.h"
#include "http/download_report.h"
#include "net/stop_flag.h"

constexpr char TEMP_FILE_NAME[] = "tmp1";
// Its name in the user's temporary directory, used when tmp1 cannot be
// created beside the program (a protected or read-only folder).
constexpr char USER_TEMP_FILE_NAME[] = "kestrin_tmp1";
// The element set of catalogue number 44387 (METEOR-M2 2) in the three-line
// format; a macro so that the program's URL is one literal.
#define CATALOGUE_QUERY "/NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE"

// The directory of the executable followed by "tmp1".
void build_temp_path(StringVar* temp_path);

// Sets temp_path (tmp1 beside the program, or the user's temporary
// directory's kestrin_tmp1 when tmp1 cannot be created) and downloads url
// into it.
// The network must be started. The count of body bytes; 0 on failure and
// when the body came only in part (tmp1 is then removed, if it can be): the
// application goes by this count, not by whether the file can be opened.
// tmp1 exists only once the answer's body begins. The stop flag (may be
// null) ends every wait of the download once set; the report (may be null)
// tells how it went, a body that came only in part with the stage body.
int32_t fetch_catalogue(const char* url, StringVar* temp_path, const StopFlag* stop = nullptr,
                        DownloadReport* report = nullptr);
