#include "ShellTestKit.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    Platform().shellFileOperation = Record;
}

ShellCalls::~ShellCalls() {
    std::lock_guard<std::mutex> lock(activeMutex);
    Platform().shellFileOperation = previous_;
    active = nullptr;
}

void ShellCalls::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

int ShellCalls::Real(SHFILEOPSTRUCTA* op) { return SHFileOperationA(op); }

ShellCalls* ShellCalls::Active() {
    std::lock_guard<std::mutex> lock(activeMutex);
    return active;
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
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        handler = self->handler_;
    }
    call.result = handler ? handler(op) : Real(op);
    call.lastError = GetLastError();
    call.aborted = op->fAnyOperationsAborted != FALSE;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->calls_.push_back(call);
    }
    SetLastError(call.lastError);  // the caller reads it next
    return call.result;
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

int RefuseWith(DWORD error) {
    SetLastError(error);
    return static_cast<int>(error);
}

namespace {

FileCopies* activeCopies = nullptr;

}  // namespace

FileCopies::FileCopies() {
    std::lock_guard<std::mutex> lock(activeMutex);
    if (activeCopies) throw std::logic_error("one FileCopies at a time");
    activeCopies = this;
    previous_ = Platform().copyFile;
    Platform().copyFile = Record;
}

FileCopies::~FileCopies() {
    std::lock_guard<std::mutex> lock(activeMutex);
    Platform().copyFile = previous_;
    activeCopies = nullptr;
}

void FileCopies::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

BOOL FileCopies::Real(const Call& call) {
    return CopyFileExW(call.from, call.to, call.progress, call.context, nullptr, call.flags);
}

std::vector<FileCopy> FileCopies::Copies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return copies_;
}

BOOL WINAPI FileCopies::Record(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE progress, LPVOID context, LPBOOL,
                               DWORD flags) {
    FileCopies* self = nullptr;
    {
        std::lock_guard<std::mutex> lock(activeMutex);
        self = activeCopies;
    }
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        handler = self->handler_;
    }
    const Call call{from, to, progress, context, flags};
    FileCopy copy;
    copy.from = ShownPath(from);
    copy.to = ShownPath(to);
    copy.calledFrom = from;
    copy.calledTo = to;
    copy.result = handler ? handler(call) : Real(call);
    copy.lastError = copy.result ? 0 : GetLastError();
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->copies_.push_back(copy);
    }
    SetLastError(copy.lastError);
    return copy.result;
}

namespace {
FileMoves* activeMoves = nullptr;
}  // namespace

FileMoves::FileMoves() {
    std::lock_guard<std::mutex> lock(activeMutex);
    if (activeMoves) throw std::logic_error("one FileMoves at a time");
    activeMoves = this;
    previous_ = Platform().moveFile;
    Platform().moveFile = Record;
}

FileMoves::~FileMoves() {
    std::lock_guard<std::mutex> lock(activeMutex);
    Platform().moveFile = previous_;
    activeMoves = nullptr;
}

void FileMoves::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

BOOL FileMoves::Real(const Call& call) { return MoveFileExW(call.from, call.to, call.flags); }

std::vector<std::string> FileMoves::Moves() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return moves_;
}

BOOL WINAPI FileMoves::Record(LPCWSTR from, LPCWSTR to, DWORD flags) {
    FileMoves* self = nullptr;
    {
        std::lock_guard<std::mutex> lock(activeMutex);
        self = activeMoves;
    }
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        handler = self->handler_;
    }
    const Call call{from, to, flags};
    const BOOL result = handler ? handler(call) : Real(call);
    const DWORD error = result ? 0 : GetLastError();
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->moves_.push_back(ShownPath(from) + " -> " + ShownPath(to));
    }
    SetLastError(error);
    return result;
}

std::string ShownPath(LPCWSTR path) {
    const std::wstring called = path ? path : L"";
    if (called.rfind(L"\\\\?\\UNC\\", 0) == 0) return Narrow(L"\\\\" + called.substr(8));
    if (called.rfind(L"\\\\?\\", 0) == 0) return Narrow(called.substr(4));
    return Narrow(called);
}

std::vector<std::string> KillMoments::Take(const std::function<void()>& run) {
    std::vector<std::string> moments;
    std::mutex one;  // the snapshots and the calls they stand before, one at a time
    const auto take = [&] {
        moments.push_back(store_ + "\\" + std::to_string(taken_++));
        testsupport::CopyTree(work_, moments.back());
    };
    {
        ShellCalls shell;
        FileMoves moves;
        FileCopies copies;
        shell.SetHandler([&](SHFILEOPSTRUCTA* op) {
            std::lock_guard<std::mutex> lock(one);
            if (op->wFunc == FO_RENAME) take();
            return ShellCalls::Real(op);
        });
        moves.SetHandler([&](const FileMoves::Call& call) {
            std::lock_guard<std::mutex> lock(one);
            take();
            return FileMoves::Real(call);
        });
        copies.SetHandler([&](const FileCopies::Call& call) {
            std::lock_guard<std::mutex> lock(one);
            take();
            const BOOL copied = FileCopies::Real(call);
            // Cut short half way: what a kill in the middle of the copy leaves.
            take();
            const std::string written = ShownPath(call.to);
            if (written.rfind(work_, 0) == 0) {
                const std::string half = moments.back() + written.substr(work_.size());
                const std::string content = testsupport::ReadFileOr(half, "");
                if (!content.empty()) testsupport::WriteFile(half, content.substr(0, content.size() / 2));
            }
            return copied;
        });
        run();
    }
    take();
    return moments;
}

void KillMoments::PutBack(const std::string& moment) const {
    testsupport::RemoveTree(work_);
    testsupport::CopyTree(moment, work_);
}

BOOL CancelCopy() {
    SetLastError(ERROR_REQUEST_ABORTED);
    return FALSE;
}

BOOL FailCopyWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool TransferShown(const std::string& source, const std::string& destination, TransferProgress* progress) {
    const TransferResult result = TransferTree(source, destination, progress);
    ShowMessages(nullptr, result.messages);
    return result.ok;
}

bool RepairShown(const std::string& destination) {
    const RepairResult result = RepairTransfer(destination);
    ShowMessages(nullptr, result.messages);
    return result.ok;
}

HeldOpen::HeldOpen(const std::string& path)
    : handle_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                          nullptr)) {}

void HeldOpen::Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

uint64_t FilesIn(const std::string& root) {
    uint64_t files = 0;
    for (const auto& e : testsupport::ListTree(root)) files += e.folder ? 0 : 1;
    return files;
}

void ExpectSameTree(const std::string& a, const std::string& b) {
    std::string difference;
    EXPECT_TRUE(testsupport::SameTreeExactly(a, b, &difference)) << difference;
}

FileIdentity IdentityOf(const std::string& path) {
    FileIdentity identity;
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info)) {
        identity.id = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        identity.links = info.nNumberOfLinks;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return identity;
}

namespace {

FlushedFiles* activeFlushes = nullptr;

}  // namespace

std::string FlushedName(std::string path) {
    if (path.rfind("\\\\?\\", 0) == 0) path = path.substr(4);
    CharUpperA(&path[0]);
    return path;
}

FlushedFiles::FlushedFiles() {
    std::lock_guard<std::mutex> lock(activeMutex);
    if (activeFlushes) throw std::logic_error("one FlushedFiles at a time");
    activeFlushes = this;
    previous_ = Platform().flushFile;
    Platform().flushFile = Record;
}

FlushedFiles::~FlushedFiles() {
    std::lock_guard<std::mutex> lock(activeMutex);
    Platform().flushFile = previous_;
    activeFlushes = nullptr;
}

void FlushedFiles::Note(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(event);
}

std::vector<std::string> FlushedFiles::Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

bool FlushedFiles::Has(const std::string& path) const {
    const std::string name = FlushedName(path);
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(log_.begin(), log_.end(), name) != log_.end();
}

BOOL WINAPI FlushedFiles::Record(HANDLE handle) {
    wchar_t name[MAX_PATH * 2];
    const DWORD n = GetFinalPathNameByHandleW(handle, name, MAX_PATH * 2, 0);
    activeFlushes->Note(n ? FlushedName(Narrow(std::wstring(name, n))) : "?");
    return activeFlushes->previous_(handle);
}

void MakeTree(const std::string& root, const TreeContents& entries) {
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

bool NamesTheFailure(const std::string& text, const ShellCall& call) {
    if (call.lastError != 0) return text == SystemErrorName(static_cast<int32_t>(call.lastError));
    return !text.empty() && text != SystemErrorName(0) && text != SystemErrorName(-12345);
}

bool IsFailureText(const std::string& text, const ShellCall& call, const std::string& path) {
    if (call.result != 0) return NamesTheFailure(text, call);
    return text.find(path) != std::string::npos &&
           (text.rfind("Not copied: ", 0) == 0 || text.rfind("Copied with a different size: ", 0) == 0 ||
            text.rfind("Cannot read folder: ", 0) == 0 || text.rfind("Not a folder: ", 0) == 0);
}

}  // namespace shelltest
