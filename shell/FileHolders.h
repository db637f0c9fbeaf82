// Which of some files another process holds open, asked of the Restart Manager: it
// opens nothing, so it cannot make the program's own open of a file fail.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class Holders { None, Found, Unknown };

// Whether another process holds one of paths[begin, end) (full paths); `first` is then
// the index of the first such file. Unknown where the Restart Manager is missing, fails,
// or has not shown that it sees a file this process holds (Wine's answers "nobody" to
// everything).
Holders RestartManagerFirstHeld(const std::vector<std::wstring>& paths, size_t begin, size_t end, size_t& first);
