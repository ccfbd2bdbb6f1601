// The words for people about one start: the message box's text, in
// Windows-1251, and the log line's outcome and detail, in ASCII English.
// Pure: a report in, text out. site is the catalogue server as the program
// names it.
#pragma once

#include <cstddef>

#include "app/work.h"

// The box's reasons, Windows-1251. "Имя <site> не найдено: проверьте
// подключение к сети" and "Сервер <site> не принимает соединение" frame the site.
constexpr char REASON_NAME_BEFORE[] = "\xC8\xEC\xFF ";
constexpr char REASON_NAME_AFTER[] =
    " \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED\xEE: \xEF\xF0\xEE\xE2\xE5\xF0\xFC\xF2\xE5 "
    "\xEF\xEE\xE4\xEA\xEB\xFE\xF7\xE5\xED\xE8\xE5 \xEA \xF1\xE5\xF2\xE8";
constexpr char REASON_CONNECT_BEFORE[] = "\xD1\xE5\xF0\xE2\xE5\xF0 ";
constexpr char REASON_CONNECT_AFTER[] =
    " \xED\xE5 \xEF\xF0\xE8\xED\xE8\xEC\xE0\xE5\xF2 \xF1\xEE\xE5\xE4\xE8\xED\xE5\xED\xE8\xE5";
// "Сертификат сервера недействителен по дате: проверьте дату и время компьютера"
constexpr char REASON_CERTIFICATE_DATE[] =
    "\xD1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2 \xF1\xE5\xF0\xE2\xE5\xF0\xE0 "
    "\xED\xE5\xE4\xE5\xE9\xF1\xF2\xE2\xE8\xF2\xE5\xEB\xE5\xED \xEF\xEE \xE4\xE0\xF2\xE5: "
    "\xEF\xF0\xEE\xE2\xE5\xF0\xFC\xF2\xE5 \xE4\xE0\xF2\xF3 \xE8 \xE2\xF0\xE5\xEC\xFF "
    "\xEA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0\xE0";
// "Сертификат сервера выдан недоверенным центром"
constexpr char REASON_CERTIFICATE_UNTRUSTED[] =
    "\xD1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2 \xF1\xE5\xF0\xE2\xE5\xF0\xE0 \xE2\xFB\xE4\xE0\xED "
    "\xED\xE5\xE4\xEE\xE2\xE5\xF0\xE5\xED\xED\xFB\xEC \xF6\xE5\xED\xF2\xF0\xEE\xEC";
// "Сертификат выдан другому серверу"
constexpr char REASON_CERTIFICATE_NAME[] =
    "\xD1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2 \xE2\xFB\xE4\xE0\xED "
    "\xE4\xF0\xF3\xE3\xEE\xEC\xF3 \xF1\xE5\xF0\xE2\xE5\xF0\xF3";
// "Не удалось установить защищённое соединение"
constexpr char REASON_TLS[] =
    "\xCD\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC \xF3\xF1\xF2\xE0\xED\xEE\xE2\xE8\xF2\xFC "
    "\xE7\xE0\xF9\xE8\xF9\xB8\xED\xED\xEE\xE5 \xF1\xEE\xE5\xE4\xE8\xED\xE5\xED\xE8\xE5";
// "Ответ сервера: ", then the status code and reason phrase
constexpr char REASON_STATUS[] = "\xCE\xF2\xE2\xE5\xF2 \xF1\xE5\xF0\xE2\xE5\xF0\xE0: ";
// "Сервер не передал ответ за 30 секунд"
constexpr char REASON_SLOW[] = "\xD1\xE5\xF0\xE2\xE5\xF0 \xED\xE5 \xEF\xE5\xF0\xE5\xE4\xE0\xEB "
                               "\xEE\xF2\xE2\xE5\xF2 \xE7\xE0 30 \xF1\xE5\xEA\xF3\xED\xE4";
// "Ответ сервера оборван"
constexpr char REASON_CUT[] =
    "\xCE\xF2\xE2\xE5\xF2 \xF1\xE5\xF0\xE2\xE5\xF0\xE0 \xEE\xE1\xEE\xF0\xE2\xE0\xED";
// "Не удалось сохранить ответ на диск"
constexpr char REASON_DISK[] = "\xCD\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC "
                               "\xF1\xEE\xF5\xF0\xE0\xED\xE8\xF2\xFC \xEE\xF2\xE2\xE5\xF2 "
                               "\xED\xE0 \xE4\xE8\xF1\xEA";

// The box's text: first_line, then, when the report names a reason, an empty
// line and the reason (for a refused answer, the host's first line of text
// on a line of its own). Zero-terminated in out, cut to its size.
void box_text(const DownloadReport& r, const char* site, const char* first_line, char* out,
              size_t size);

// The outcome's one word and the detail, as "written: status 200, ...".
void log_detail(WorkOutcome outcome, const WorkReport& r, const char* site, char* out, size_t size);
