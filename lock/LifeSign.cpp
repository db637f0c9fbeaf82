// LifeSign: the holder's renewed sign of life beside its token.
#include "lock/LifeSign.h"

#include "shell/Handles.h"
#include "shell/TreeListing.h"
#include "shell/Wintools.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr wchar_t kLifeSignSuffix[] = L".lifesign";
constexpr char kHeading[] = "Carvelund life sign";
// A renewal can be late now and then (a busy PC, a slow share): one missed is no sign of
// a stopped PC, three in a row are.
constexpr DWORD kMissedRenewals = 3;
// The share's caches of file data and times may lag this much behind another PC's write.
constexpr DWORD kShareCacheMs = 10000;
constexpr DWORD kDefaultIntervalMs = 5000;
// Far more than any file the program writes; a larger one is not a life sign.
constexpr DWORD kLargestContent = 1024;
constexpr DWORD kAllSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring LifeSignPath(const char* lockFolder, const TokenIdentity& token) {
    return JoinPath(Widen(lockFolder ? lockFolder : ""), LifeSignName(token.fileName));
}

// The token's last-write time, made with a random part below the millisecond when it was
// taken: it tells this token from any earlier one of the same name.
std::string TokenStamp(const TokenIdentity& token) {
    char text[20];
    std::snprintf(text, sizeof text, "%08lX%08lX", static_cast<unsigned long>(token.lastWrite.dwHighDateTime),
                  static_cast<unsigned long>(token.lastWrite.dwLowDateTime));
    return text;
}

std::string Content(const TokenIdentity& token, DWORD intervalMs, unsigned beat) {
    static const std::string pc = ComputerName();
    return std::string(kHeading) + "\r\nPC=" + pc + "\r\nToken=" + TokenStamp(token) +
           "\r\nEvery=" + std::to_string(intervalMs) + "\r\nBeat=" + std::to_string(beat) + "\r\n";
}

bool WriteWhole(HANDLE file, const std::string& content) {
    DWORD written = 0;
    return SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
           WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size() && SetEndOfFile(file);
}

// The value of "key=" in the content, or empty.
std::string Field(const std::string& content, const char* key) {
    const std::string start = std::string("\n") + key + "=";
    const size_t at = content.find(start);
    if (at == std::string::npos) return {};
    const size_t from = at + start.size();
    const size_t end = content.find_first_of("\r\n", from);
    return end == std::string::npos ? std::string() : content.substr(from, end - from);
}

struct Reading {
    bool found = false;     // a file is there
    DWORD error = 0;        // it may be there, but could not be read
    bool complete = false;  // it reads as a whole life sign (a write may be under way)
    bool ours = false;      // and names the token asked about
    std::string content;
    std::string pc;
    DWORD intervalMs = 0;
    ULONGLONG ageMs = 0;    // by the file's time against our clock, at least 0
};

ULONGLONG AgeOf(const FILETIME& written) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG a = (ULONGLONG(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const ULONGLONG b = (ULONGLONG(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    return a > b ? (a - b) / 10000 : 0;
}

bool ReadContent(HANDLE file, std::string& content) {
    content.assign(kLargestContent, '\0');
    DWORD read = 0;
    if (!ReadFile(file, &content[0], kLargestContent, &read, nullptr)) return false;
    content.resize(read);
    return true;
}

void Parse(const TokenIdentity& token, Reading& reading) {
    const std::string& c = reading.content;
    reading.complete = c.rfind(kHeading, 0) == 0 && !Field(c, "Beat").empty();
    if (!reading.complete) return;
    reading.ours = Field(c, "Token") == TokenStamp(token);
    reading.pc = Field(c, "PC");
    reading.intervalMs = static_cast<DWORD>(std::strtoul(Field(c, "Every").c_str(), nullptr, 10));
}

Reading ReadLifeSign(const char* lockFolder, const TokenIdentity& token) {
    Reading reading;
    if (!token.Known()) return reading;
    KernelHandle file(CreateFileW(LifeSignPath(lockFolder, token).c_str(), GENERIC_READ, kAllSharing, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) {
        // Not there is an older copy's token; anything else is a life sign we cannot see.
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) reading.error = error ? error : ERROR_GEN_FAILURE;
        return reading;
    }
    if (!ReadContent(file.Get(), reading.content)) {
        reading.error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
        return reading;
    }
    reading.found = true;
    FILETIME written{};
    if (GetFileTime(file.Get(), nullptr, nullptr, &written)) reading.ageMs = AgeOf(written);
    Parse(token, reading);
    return reading;
}

// Zero times in the record leave the file's times as they are.
void SetAttributes(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes;
    SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

std::string DurationText(ULONGLONG ms) {
    const ULONGLONG s = ms / 1000;
    if (s < 120) return std::to_string(s) + " s";
    if (s < 120 * 60) return std::to_string(s / 60) + " min";
    if (s < 48 * 3600) return std::to_string(s / 3600) + " h";
    return std::to_string(s / 86400) + " days";
}

std::string AgoText(ULONGLONG ms) { return DurationText(ms) + " ago"; }

}  // namespace

LifeSignTiming LifeSignTimes() {
    static const LifeSignTiming timing = [] {
        LifeSignTiming t;
        t.intervalMs = kDefaultIntervalMs;
        DWORD margin = kShareCacheMs;
        char text[16] = "";
        if (GetEnvironmentVariableA("CARVELUND_LIFESIGN_MS", text, sizeof text) > 0) {
            const DWORD ms = static_cast<DWORD>(std::strtoul(text, nullptr, 10));
            if (ms >= 50 && ms <= 60000) {
                t.intervalMs = ms;
                margin = 2 * ms;
            }
        }
        t.stoppedAfterMs = kMissedRenewals * t.intervalMs + margin;
        return t;
    }();
    return timing;
}

std::wstring LifeSignName(const std::wstring& tokenFileName) { return tokenFileName + kLifeSignSuffix; }

bool WriteFirstLifeSign(const char* lockFolder, const TokenIdentity& token, DWORD intervalMs, unsigned beat) {
    if (!token.Known()) return false;
    const std::wstring path = LifeSignPath(lockFolder, token);
    // Hidden: the lookups of older copies skip it, and no user takes it for a token.
    constexpr DWORD kAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, kAllSharing, nullptr, CREATE_ALWAYS, kAttributes, nullptr));
    if (!file) {
        // A leftover made read-only or system refuses to be overwritten: it goes first.
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        file.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, kAllSharing, nullptr, CREATE_NEW, kAttributes, nullptr));
    }
    if (!file || !WriteWhole(file.Get(), Content(token, intervalMs, beat))) return false;
    // An overwrite keeps a leftover's read-only or system bit under Wine.
    SetAttributes(file.Get(), kAttributes);
    return true;
}

bool RenewLifeSign(const char* lockFolder, const TokenIdentity& token, DWORD intervalMs, unsigned beat) {
    if (!token.Known()) return false;
    KernelHandle file(CreateFileW(LifeSignPath(lockFolder, token).c_str(), GENERIC_WRITE, kAllSharing, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    return file && WriteWhole(file.Get(), Content(token, intervalMs, beat));
}

void RemoveLifeSign(const char* lockFolder, const TokenIdentity& token) {
    if (!token.Known()) return;
    KernelHandle file(CreateFileW(LifeSignPath(lockFolder, token).c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                                  kAllSharing, nullptr, OPEN_EXISTING, 0, nullptr));
    Reading reading;
    if (!file || !ReadContent(file.Get(), reading.content)) return;
    Parse(token, reading);
    if (!reading.ours) return;
    // A read-only file refuses its delete.
    SetAttributes(file.Get(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition);
}

// ---- Renewer ---------------------------------------------------------------------

LifeSignRenewer::~LifeSignRenewer() { Stop(); }

void LifeSignRenewer::Start(const char* lockFolder, const TokenIdentity& token, DWORD intervalMs) {
    Stop();
    lockFolder_ = lockFolder ? lockFolder : "";
    token_ = token;
    intervalMs_ = intervalMs;
    writes_ = 0;
    rounds_ = 0;
    lost_ = false;
    if (WriteFirstLifeSign(lockFolder_.c_str(), token_, intervalMs_, 1)) ++writes_;
    stop_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (stop_) worker_ = std::thread([this] { Renew(); });
}

void LifeSignRenewer::Stop() {
    if (!worker_.joinable()) return;
    SetEvent(stop_.Get());
    worker_.join();
    stop_.Reset();
}

void LifeSignRenewer::Renew() {
    for (unsigned beat = 2; WaitForSingleObject(stop_.Get(), intervalMs_) == WAIT_TIMEOUT; ++beat) {
        // A token deleted or replaced is no longer ours to sign for, even under our name,
        // and the period must know: it may never write to the share on that lock again.
        const TokenPresence presence = LookAtToken(lockFolder_.c_str(), token_);
        if (presence == TokenPresence::Gone || presence == TokenPresence::Other) lost_ = true;
        if (presence == TokenPresence::Same && RenewLifeSign(lockFolder_.c_str(), token_, intervalMs_, beat)) ++writes_;
        ++rounds_;
    }
}

// ---- Watch -----------------------------------------------------------------------

void LifeSignWatch::Look(const char* lockFolder, const TokenIdentity& holder) {
    const ULONGLONG now = GetTickCount64();
    if (!watching_ || !holder_.SameFile(holder)) {
        *this = LifeSignWatch(timing_);
        holder_ = holder;
        watching_ = true;
        lastChange_ = now;
    }
    const Reading reading = ReadLifeSign(lockFolder, holder);
    // A look that cannot read it sees no renewal: what was known stays, and the time
    // without a change runs on.
    unreadable_ = reading.error;
    if (reading.error) return;
    if (!reading.found || (reading.complete && !reading.ours)) {
        // None, or a leftover of an earlier token of that name.
        present_ = false;
        content_.clear();
        return;
    }
    if (reading.content == content_) return;
    const bool firstSight = !present_;
    content_ = reading.content;
    lastChange_ = now;
    // The first sight may be of a sign written long ago; later changes happened just now.
    ageAtChange_ = firstSight ? reading.ageMs : 0;
    // A torn read (a write under way) counts as a change, and tells nothing else.
    if (!reading.complete) return;
    present_ = true;
    pc_ = reading.pc;
    holderIntervalMs_ = reading.intervalMs;
}

LifeSignFacts LifeSignWatch::Facts() const {
    LifeSignFacts facts;
    facts.error = unreadable_;
    if (!present_ && !unreadable_) return facts;
    const ULONGLONG unchanged = GetTickCount64() - lastChange_;
    // A holder that renews less often than we do is given its own interval's due.
    DWORD stoppedAfter = timing_.stoppedAfterMs;
    if (holderIntervalMs_ > timing_.intervalMs) stoppedAfter += kMissedRenewals * (holderIntervalMs_ - timing_.intervalMs);
    const bool stopped = unchanged >= stoppedAfter;
    facts.pc = pc_;
    facts.lastSignAgoMs = ageAtChange_ + unchanged;
    facts.unreadable = unreadable_ != 0;
    if (stopped)
        facts.liveness = Liveness::Stopped;
    else
        facts.liveness = unreadable_ ? Liveness::Unreadable : Liveness::Alive;
    return facts;
}

std::string LifeSignText(const LifeSignFacts& facts) {
    const std::string pc = "PC " + (facts.pc.empty() ? std::string("unknown") : facts.pc);
    const std::string unread =
        "no life sign could be read (" + std::string(SystemErrorName(static_cast<int32_t>(facts.error))) + ")";
    switch (facts.liveness) {
        case Liveness::NoLifeSign: return "PC unknown: no life sign (an older copy of the program holds the lock)";
        case Liveness::Alive: return pc + ", last life sign " + AgoText(facts.lastSignAgoMs);
        case Liveness::Unreadable: return pc + ": " + unread;
        case Liveness::Stopped:
            // Unread is not unchanged: this PC may only be cut off from the share.
            if (facts.unreadable)
                return pc + ": " + unread + ", none seen for " + DurationText(facts.lastSignAgoMs) +
                       ": that PC may have stopped (a crash, or switched off); delete its lock only if you know it has";
            return pc + ", last life sign " + AgoText(facts.lastSignAgoMs) +
                   ": that PC seems to have stopped (a crash, or switched off), so deleting its lock is safe";
    }
    return {};
}
