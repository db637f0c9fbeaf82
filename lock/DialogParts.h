// Control layouts shared by the lock conflict dialogs.
#pragma once

#include "forms/Form.h"

namespace lockdialogs {

inline forms::ControlSpec At(int left, int top, int width, int height, const char* text = "") {
    forms::ControlSpec spec;
    spec.bounds = {left, top, width, height};
    spec.text = text;
    return spec;
}

// A box that only shows its text: it cannot be focused or edited.
inline forms::ControlSpec ShownText(int left, int top, int width, int height) {
    forms::ControlSpec spec = At(left, top, width, height);
    spec.readOnly = true;
    spec.enabled = false;
    spec.tabStop = false;
    return spec;
}

inline forms::ControlSpec Caption(int left, int top, int width, int height, const char* text,
                                  const char* hint = nullptr) {
    forms::ControlSpec spec = At(left, top, width, height, text);
    spec.hint = hint;
    spec.tabStop = false;
    return spec;
}

inline forms::FormSpec LockDialog(const char* className, const char* caption, int width, int height) {
    forms::FormSpec spec;
    spec.className = className;
    spec.caption = caption;
    spec.width = width;
    spec.height = height;
    spec.border = forms::Border::Dialog;
    return spec;
}

}  // namespace lockdialogs
