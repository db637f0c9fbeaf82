#include "shell/Wintools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

size_t LengthOf(const char* s) { return s ? std::strlen(s) : 0; }

char* AppendPart(char* at, const char* part) {
    const size_t n = LengthOf(part);
    if (n) std::memcpy(at, part, n);
    return at + n;
}

}  // namespace

char* ConcatText(const char* a, const char* b, const char* c, const char* d) {
    const size_t length = LengthOf(a) + LengthOf(b) + LengthOf(c) + LengthOf(d);
    // Two NULs: the text is also a one-entry list for the shell.
    char* made = static_cast<char*>(std::malloc(length + 2));
    // Thrown, not aborted: the window procedures and the period's steps report it, where
    // an abort would end the program without a word.
    if (!made) throw std::bad_alloc();
    char* at = made;
    at = AppendPart(at, a);
    at = AppendPart(at, b);
    at = AppendPart(at, c);
    at = AppendPart(at, d);
    at[0] = '\0';
    at[1] = '\0';
    return made;
}

char* ReplaceText(char* old, const char* a, const char* b, const char* c, const char* d) {
    char* made = ConcatText(a, b, c, d);
    FreeText(old);
    return made;
}

char* FreeText(char* t) {
    std::free(t);
    return nullptr;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return L"";
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return "";
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n, nullptr, nullptr);
    return narrow;
}

namespace {

std::wstring ConvertIn(UINT codePage, const std::string& text) {
    if (text.empty()) return L"";
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string ConvertOut(UINT codePage, const std::wstring& text) {
    if (text.empty()) return "";
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::string Utf8(const std::wstring& text) { return ConvertOut(CP_UTF8, text); }
std::wstring FromUtf8(const std::string& text) { return ConvertIn(CP_UTF8, text); }

std::string LocalTimeText(const FILETIME& utc, MonthWidth month, const char* unknown) {
    FILETIME local;
    SYSTEMTIME t;
    const bool zero = utc.dwLowDateTime == 0 && utc.dwHighDateTime == 0;
    if (zero || !FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t))
        return unknown ? unknown : "";
    char text[32];
    std::snprintf(text, sizeof text, month == MonthWidth::TwoColumns ? "%2u/%02u/%04u %u:%02u" : "%u/%02u/%04u %u:%02u",
                  t.wMonth, t.wDay, t.wYear, t.wHour, t.wMinute);
    return text;
}

std::string Thousands(uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return "?";
    return name;
}
