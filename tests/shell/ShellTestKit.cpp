#include "ShellTestKit.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace shelltest {

namespace {

ShellCalls* active = nullptr;
std::mutex activeMutex;

bool EndsInSecondNul(const char* list) { return list && list[std::strlen(list) + 1] == '\0'; }

}  // namespace

ShellCalls::ShellCalls() {
    std::lock_guard<std::mutex> lock(activeMutex);
    if (active) throw std::logic_error("one ShellCalls at a time");
    active = this;
    previous_ = Platform().shellFileOperation;
    previousW_ = Platform().shellFileOperationW;
    Platform().shellFileOperation = Record;
    Platform().shellFileOperationW = RecordW;
}

ShellCalls::~ShellCalls() {
    std::lock_guard<std::mutex> lock(activeMutex);
    Platform().shellFileOperation = previous_;
    Platform().shellFileOperationW = previousW_;
    active = nullptr;
}

void ShellCalls::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

void ShellCalls::SetHandlerW(HandlerW handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlerW_ = std::move(handler);
}

int ShellCalls::Real(SHFILEOPSTRUCTA* op) { return SHFileOperationA(op); }

int ShellCalls::RealW(SHFILEOPSTRUCTW* op) { return SHFileOperationW(op); }

namespace {

std::string Ansi(const wchar_t* wide) {
    if (!wide || !*wide) return "";
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &s[0], n, nullptr, nullptr);
    s.resize(s.size() - 1);
    return s;
}

size_t CountEntries(const wchar_t* list) {
    size_t n = 0;
    for (const wchar_t* p = list; p && *p; p += wcslen(p) + 1) ++n;
    return n;
}

}  // namespace

ShellCalls* ShellCalls::Active() {
    std::lock_guard<std::mutex> lock(activeMutex);
    return active;
}

template <typename Op, typename H>
int ShellCalls::Pass(ShellCall call, Op* op, const H& handlerField, int (*real)(Op*)) {
    H handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler = handlerField;
    }
    call.result = handler ? handler(op) : real(op);
    call.lastError = GetLastError();
    call.aborted = op->fAnyOperationsAborted != FALSE;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    SetLastError(call.lastError);  // the caller reads it next
    return call.result;
}

int WINAPI ShellCalls::RecordW(LPSHFILEOPSTRUCTW op) {
    ShellCalls* self = Active();
    ShellCall call;
    call.function = op->wFunc;
    call.from = Ansi(op->pFrom);
    call.to = Ansi(op->pTo);
    call.flags = op->fFlags;
    call.wide = true;
    call.entries = CountEntries(op->pFrom);
    return self->Pass(call, op, self->handlerW_, RealW);
}

int WINAPI ShellCalls::Record(LPSHFILEOPSTRUCTA op) {
    ShellCalls* self = Active();
    ShellCall call;
    call.function = op->wFunc;
    call.from = op->pFrom ? op->pFrom : "";
    call.to = op->pTo ? op->pTo : "";
    call.fromIsList = EndsInSecondNul(op->pFrom);
    call.toIsList = EndsInSecondNul(op->pTo);
    call.flags = op->fFlags;
    call.progressTitle = op->lpszProgressTitle ? op->lpszProgressTitle : "";
    call.owner = op->hwnd;
    return self->Pass(call, op, self->handler_, Real);
}

std::vector<ShellCall> ShellCalls::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<UINT> ShellCalls::Functions() const {
    std::vector<UINT> functions;
    for (const auto& c : Calls()) functions.push_back(c.function);
    return functions;
}

int CancelAtOnce(SHFILEOPSTRUCTA* op) {
    op->fAnyOperationsAborted = TRUE;
    SetLastError(ERROR_CANCELLED);
    return 0;
}

int CancelAtOnceW(SHFILEOPSTRUCTW* op) {
    op->fAnyOperationsAborted = TRUE;
    SetLastError(ERROR_CANCELLED);
    return 0;
}

int RefuseWith(DWORD error) {
    SetLastError(error);
    return static_cast<int>(error);
}

HeldOpen::HeldOpen(const std::string& path)
    : handle_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                          nullptr)) {}

void HeldOpen::Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

void MakeTree(const std::string& root, const TreeSpec& entries) {
    testsupport::MakeFolder(root);
    for (const auto& entry : entries) {
        const std::string path = root + "\\" + entry.first;
        if (!entry.first.empty() && entry.first.back() == '\\') {
            testsupport::MakeFolder(path.substr(0, path.size() - 1));
            continue;
        }
        const size_t cut = path.find_last_of('\\');
        testsupport::MakeFolder(path.substr(0, cut));
        testsupport::WriteFile(path, entry.second);
    }
}

std::string ExpectCopyStepFailed(const std::vector<std::pair<std::string, std::string>>& seen) {
    EXPECT_EQ(seen.size(), 2u);
    if (seen.size() != 2) return "";
    EXPECT_EQ(seen[0].first, "Copying");
    EXPECT_EQ(seen[1], std::make_pair(std::string("Copying"), std::string("Error occuried during filecopy")));
    return seen[0].second;
}

bool IsFailureText(const std::string& text, const ShellCall& call, const std::string& path) {
    if (call.result != 0) return text == SystemErrorName(static_cast<int32_t>(call.lastError));
    return text.find(path) != std::string::npos &&
           (text.rfind("Not copied: ", 0) == 0 || text.rfind("Copied with a different size: ", 0) == 0 ||
            text.rfind("Cannot read folder: ", 0) == 0 || text.rfind("Not a folder: ", 0) == 0);
}

}  // namespace shelltest
