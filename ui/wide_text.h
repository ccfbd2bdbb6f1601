// Texts are Windows-1251 runtime strings everywhere inside the program; only
// where one reaches the screen is it widened to UTF-16 and handed to a wide
// call, so that it reads right whatever the system's ANSI code page.
#pragma once

#include "core/runtime.h"

constexpr UINT TEXT_CODE_PAGE = 1251;

// A UTF-16 copy of a zero-terminated Windows-1251 text (null counts as ""),
// in a block of the main heap for the caller to heap_free; null when the
// block cannot be had.
wchar_t* widen_text(const char* text);
