// A failure told as a value: the box to show for it, its caption and its text. Code that
// may run away from the window thread returns these; the window thread shows them in
// order (ShowMessages in shell/Wintools.h).
#pragma once

#include <string>
#include <vector>

struct Message {
    std::string title;
    std::string text;
};
using Messages = std::vector<Message>;
