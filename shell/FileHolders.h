// Which of some files another process holds open, asked of the Restart Manager: it
// opens nothing, so it cannot make the program's own open of a file fail.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class Holders { None, Found, Unknown };

// `files` are names below `root`; `first` is the index of the first one another process
// holds, when Found. Unknown where the Restart Manager is missing, fails, or has not
// shown that it sees a file this process holds (Wine's answers "nobody" to everything).
Holders RestartManagerFirstHeld(const std::wstring& root, const std::vector<std::wstring>& files, size_t& first);
