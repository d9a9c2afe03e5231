// Small utilities: missing value, trimming, byte order, monitor output, sleep.
#include "qx/util.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

extern "C" {

double GetNan(void) {
    // All 64 bits set, the pattern that filling a record with 0xFF produces.
    const uint64_t all_ones = ~uint64_t{0};
    double value;
    std::memcpy(&value, &all_ones, sizeof value);
    return value;
}

int IsNan(double value) {
    return value != value ? 1 : 0;
}

double atofnan(const char* text) {
    if (text == nullptr || std::strstr(text, "#QNAN") != nullptr) return GetNan();
    double value = 0.0;
    if (std::sscanf(text, "%lg", &value) != 1) return GetNan();
    // A NaN text ("-nan", "nan") reads back as the one missing value, so that
    // a written and re-read record holds the same bytes.
    if (std::isnan(value)) return GetNan();
    return value;
}

void StrTrim(char* text, int length) {
    if (text == nullptr || length <= 0) return;
    const auto len_of = [&](int limit) { return static_cast<int>(strnlen(text, static_cast<size_t>(limit))); };

    for (int i = 0; i < length; ++i)
        if (text[i] == '\t') text[i] = ' ';

    // Trailing line ends: first at the given end, then at the string's end.
    int end = length - 1;
    while (end >= 0 && (text[end] == '\r' || text[end] == '\n')) {
        text[end] = '\0';
        --length;
        end = len_of(length) - 1;
    }

    // Trailing blanks from the given end; a NUL stops the walk.
    for (int i = length - 1; i >= 0 && text[i] == ' '; --i) text[i] = '\0';

    int start = 0;
    const int used = len_of(length);
    while (start < used && text[start] == ' ') ++start;
    if (start > 0) std::memmove(text, text + start, static_cast<size_t>(used - start));
    const int new_end = used - start;
    if (new_end < length) std::memset(text + new_end, 0, static_cast<size_t>(length - new_end));
}

int StrTrimLen(char* text, int length) {
    StrTrim(text, length);
    return 0;
}

void nocr(char* buffer, int count) {
    if (buffer == nullptr) return;
    for (int i = 0; i < count; ++i)
        if (buffer[i] == '\r') buffer[i] = '~';
}

uint32_t swab_long(uint32_t value) {
    return ((value & 0x000000FFu) << 24) | ((value & 0x0000FF00u) << 8) |
           ((value & 0x00FF0000u) >> 8) | ((value & 0xFF000000u) >> 24);
}

uint16_t swab_short(uint16_t value) {
    return static_cast<uint16_t>(((value & 0x00FFu) << 8) | ((value & 0xFF00u) >> 8));
}

char* _strupr(char* text) {
    if (text == nullptr) return text;
    for (char* p = text; *p != '\0'; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return text;
}

int ux_print_moni(const char* format, ...) {
    char buffer[8192] = {};
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return 0;
    if (n > static_cast<int>(sizeof buffer) - 1) n = static_cast<int>(sizeof buffer) - 1;
    std::printf("%*.*s", n, n, buffer);
    std::fflush(stdout);
    return 0;
}

int Sleep(int milliseconds) {
    if (milliseconds > 0) usleep(static_cast<useconds_t>(milliseconds) * 1000u);
    return 0;
}

}  // extern "C"
