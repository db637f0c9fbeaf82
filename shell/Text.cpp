#include "shell/Wintools.h"

#include <cstdlib>
#include <cstring>
#include <new>

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
