#include "ui/wide_text.h"

wchar_t* widen_text(const char* text) {
    if (!text) text = "";
    // Every Windows-1251 byte gives one UTF-16 unit; the count takes in the zero.
    const int units = MultiByteToWideChar(TEXT_CODE_PAGE, 0, text, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    auto* wide = static_cast<wchar_t*>(heap_alloc(sizeof(wchar_t) * size_t(units)));
    if (wide && MultiByteToWideChar(TEXT_CODE_PAGE, 0, text, -1, wide, units) != units) {
        heap_free(wide);
        return nullptr;
    }
    return wide;
}
