// Control layouts shared by the lock conflict dialogs.
#pragma once

#include "forms/Form.h"
#include "shell/Wintools.h"

#include <functional>
#include <string>

namespace lockdialogs {

inline forms::ControlLayout At(int left, int top, int width, int height, const char* text = "") {
    forms::ControlLayout params;
    params.bounds = {left, top, width, height};
    params.text = text;
    return params;
}

// A box that only shows its text: it cannot be focused or edited.
inline forms::ControlLayout ShownText(int left, int top, int width, int height) {
    forms::ControlLayout params = At(left, top, width, height);
    params.readOnly = true;
    params.enabled = false;
    params.tabStop = false;
    return params;
}

inline forms::ControlLayout Caption(int left, int top, int width, int height, const char* text,
                                  const char* hint = nullptr) {
    forms::ControlLayout params = At(left, top, width, height, text);
    params.hint = hint;
    params.tabStop = false;
    return params;
}

inline forms::ControlLayout WithHint(forms::ControlLayout params, const char* hint) {
    params.hint = hint;
    return params;
}

// How often a shown holder's life sign is looked at again.
constexpr UINT kLifeSignRefreshMs = 1000;

// Sets the text `describe` gives, only when it differs: a label set anew every second flickers.
inline void ShowChangedText(forms::Label& label, const std::function<std::string()>& describe) {
    if (!describe) return;
    const std::string text = describe();
    OwnedText shown(label.GetText());
    if (text != shown.Str()) label.SetText(text.c_str());
}

inline forms::FormLayout LockDialog(const char* className, const char* caption, int width, int height) {
    forms::FormLayout params;
    params.className = className;
    params.caption = caption;
    params.width = width;
    params.height = height;
    params.border = forms::Border::Dialog;
    return params;
}

}  // namespace lockdialogs
