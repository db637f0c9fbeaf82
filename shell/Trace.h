// A timeline of the program's stages for measuring where a period's time goes: with the
// environment variable CARVELUND_TRACE naming a file, each stage appends one line, the
// system time in seconds, the stage's name, and how many file-system calls the program
// has made on a network share so far (what a Windows client sends to the server).
// Without it nothing is written or counted.
#pragma once

#include <string>

void TraceStage(const char* stage);
// Counts one file-system call on `path` when the path is on a network share.
void NoteFileCall(const std::wstring& path);
