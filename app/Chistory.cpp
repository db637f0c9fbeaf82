#include "app/Chistory.h"

#include "app/Cprogress.h"
#include "forms/Worker.h"
#include "settings/Persistentdata.h"
#include "shell/FileSystem.h"
#include "shell/Wintools.h"

#include <string>
#include <utility>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 440;
constexpr int kMargin = 8;
constexpr int kListTop = 46;
constexpr int kListHeight = 210;
constexpr char kTitle[] = "History";
constexpr char kRestoreTitle[] = "Restore a Copy";

struct Column {
    const char* head;
    int left;  // from the list's left edge
};
const Column kColumns[] = {{"When", 0},      {"Who", 112},      {"PC", 232},
                           {"Added", 372}, {"Changed", 440}, {"Removed", 512}};

forms::FormLayout HistoryLayout() {
    forms::FormLayout params;
    params.className = "THistory";
    params.caption = kTitle;
    params.width = kWidth;
    params.height = kHeight;
    params.border = forms::Border::Dialog;
    return params;
}

forms::ControlLayout At(int left, int top, int width, int height, const char* text = "") {
    forms::ControlLayout params;
    params.bounds = {left, top, width, height};
    params.text = text;
    return params;
}

forms::ControlLayout LabelAt(int left, int top, int width, int height) {
    forms::ControlLayout params = At(left, top, width, height);
    params.tabStop = false;
    return params;
}

forms::ControlLayout ListLayout() { return At(kMargin, kListTop, kWidth - 2 * kMargin, kListHeight); }

forms::ControlLayout ChangesLayout() {
    forms::ControlLayout params = At(kMargin, kListTop + kListHeight + 8, kWidth - 2 * kMargin, 120);
    params.readOnly = true;
    params.scrollBar = true;
    params.background = GetSysColor(COLOR_WINDOW);
    return params;
}

std::string When(const FILETIME& utc) { return LocalTimeText(utc, MonthWidth::AsIs, "an unknown time"); }

// A list line: its fields in the list's columns.
std::string ListLine(const HistoryRecord& record) {
    std::string line = When(record.ended) + "\t" + record.user + "\t" + record.pc + "\t";
    if (record.kind == HistoryKind::Event) return line + record.text;
    return line + Thousands(record.added) + "\t" + Thousands(record.changed) + "\t" + Thousands(record.removed);
}

std::string Who(const HistoryRecord& record) { return record.user + " on PC " + record.pc; }

std::string EventDetails(const HistoryRecord& event) {
    return When(event.ended) + "\r\n" + Who(event) + "\r\n\r\n" + event.text;
}

std::string PeriodHead(const HistoryRecord& period) {
    return Who(period) + "\r\nBegan " + When(period.began) + ", ended " + When(period.ended) + "\r\n" +
           Thousands(period.added) + " added, " + Thousands(period.changed) + " changed, " +
           Thousands(period.removed) + " removed\r\n";
}

std::string ChangeLine(const HistoryChange& change) {
    const char* kind = change.kind == 'A' ? "Added" : change.kind == 'R' ? "Removed" : "Changed";
    return std::string(kind) + ": " + Narrow(change.name) + " (" + Thousands(change.size) + " bytes)\r\n";
}

// What the worker read: the records, or why there are none to show.
struct HistoryRead {
    bool ok = false;
    std::vector<HistoryRecord> records;
    std::string problem;
};

HistoryRead ReadSharedHistory(const std::string& shared) {
    HistoryRead read;
    if (!PathExists(Widen(shared))) {
        read.problem = "The shared data folder " + shared + " cannot be reached: no history can be shown.";
        return read;
    }
    std::string problem;
    if (!ReadHistory(shared, read.records, problem)) {
        read.problem = "The history of " + shared + " cannot be read: " + problem;
        return read;
    }
    if (read.records.empty()) {
        read.problem = "No history is kept for " + shared +
                       " yet. It begins with the next period that saves its work there; copies of the program "
                       "from before the history leave none.";
        return read;
    }
    read.ok = true;
    return read;
}

std::string Counted(uint64_t n, const char* one, const char* many) { return Thousands(n) + " " + (n == 1 ? one : many); }

std::string Summary(const std::vector<HistoryRecord>& records) {
    size_t periods = 0;
    for (const auto& record : records) periods += record.kind == HistoryKind::Period;
    return Counted(periods, "period", "periods") + " and " + Counted(records.size() - periods, "event", "events") +
           ", newest first. \"Restore a Copy...\" makes the shared data as the selected period left it, "
           "in a folder of its own.";
}

void TellRestored(HWND owner, const HistoryRecord& period, const std::string& folder) {
    const std::string text = "The shared data as " + period.user + " left it on " + When(period.ended) +
                             " was copied to\n" + folder +
                             "\n\nIt is a copy of its own: the shared data and your local data are as they were. "
                             "To make it the data again, bring its files into the local data folder in a period "
                             "of your own; that period's copy back saves them to the shared data folder.";
    Platform().messageBox(owner, text.c_str(), kRestoreTitle, MB_OK | MB_ICONINFORMATION | (owner ? MB_TASKMODAL : 0));
}

}  // namespace

THistory::THistory(forms::Form* owner, std::string shared, std::string local)
    : forms::Form(HistoryLayout(), owner),
      ls_Periods(Add<forms::ListBox>(ListLayout())),
      m_Changes(Add<forms::Memo>(ChangesLayout())),
      bt_Restore(Add<forms::Button>(At(kWidth - kMargin - 176, kHeight - 36, 100, 25, "Restore a Copy..."))),
      bt_Close(Add<forms::Button>(At(kWidth - kMargin - 68, kHeight - 36, 68, 25, "Close"))),
      lb_Folder(Add<forms::Label>(LabelAt(kMargin, 8, kWidth - 2 * kMargin, 16))),
      lb_Status(Add<forms::Label>(LabelAt(kMargin, kHeight - 44, kWidth - 2 * kMargin - 184, 40))),
      shared_(std::move(shared)),
      local_(std::move(local)) {
    // The list's text starts a few pixels inside its frame; the heads follow it.
    constexpr int kTextInset = 3;
    std::vector<int> lefts;
    for (const Column& column : kColumns) {
        forms::Label& head = Add<forms::Label>(LabelAt(kMargin + kTextInset + column.left, kListTop - 16, 100, 14));
        head.SetText(column.head);
        columnHeads.push_back(&head);
        if (column.left) lefts.push_back(column.left);
    }
    ls_Periods.SetColumns(lefts);
    lb_Folder.SetText(("Shared data folder: " + shared_).c_str());
    bt_Restore.SetEnabled(false);
    ls_Periods.onSelect = [this] { ls_PeriodsSelect(); };
    bt_Restore.onClick = [this] { bt_RestoreClick(); };
    bt_Close.onClick = [this] { bt_CloseClick(); };
    onShow = [this] { FormShow(); };
}

THistory::~THistory() { Destroy(); }

void THistory::FormShow() { Reload(); }

bool THistory::Reload() {
    lb_Status.SetText("Reading the history...");
    const std::string shared = shared_;
    HistoryRead read = RunOnWorker([shared] { return ReadSharedHistory(shared); });
    if (!Alive()) return false;
    records_ = std::move(read.records);
    shownIndex_ = -1;
    std::vector<std::string> lines;
    lines.reserve(records_.size());
    for (const auto& record : records_) lines.push_back(ListLine(record));
    ls_Periods.SetLines(lines);
    if (!read.ok) {
        ShowNothing(read.problem);
        return false;
    }
    lb_Status.SetText(Summary(records_).c_str());
    ls_Periods.Select(0);
    ShowSelected();
    return true;
}

void THistory::ShowNothing(const std::string& why) {
    lb_Status.SetText(why.c_str());
    m_Changes.SetText(why.c_str());
    bt_Restore.SetEnabled(false);
}

void THistory::ls_PeriodsSelect() { ShowSelected(); }

void THistory::ShowSelected() {
    // A selection made while a read runs is shown once that read is back.
    if (readingChanges_) {
        selectedAgain_ = true;
        return;
    }
    readingChanges_ = true;
    do {
        selectedAgain_ = false;
        const int index = ls_Periods.Selected();
        // A click on the line already shown selects nothing new.
        if (index < 0 || index >= static_cast<int>(records_.size()) || index == shownIndex_) break;
        shownIndex_ = index;
        const HistoryRecord record = records_[static_cast<size_t>(index)];
        bt_Restore.SetEnabled(record.kind == HistoryKind::Period);
        if (record.kind == HistoryKind::Event) {
            m_Changes.SetText(EventDetails(record).c_str());
            continue;
        }
        std::vector<HistoryChange> changes;
        std::string problem;
        const std::string shared = shared_;
        const bool read = RunOnWorker([&] { return ReadHistoryChanges(shared, record, changes, problem); });
        if (!Alive()) break;
        std::string text = PeriodHead(record) + "\r\n";
        if (!read) text += "Which files it changed cannot be read: " + problem + "\r\n";
        for (const auto& change : changes) text += ChangeLine(change);
        m_Changes.SetText(text.c_str());
    } while (selectedAgain_);
    readingChanges_ = false;
}

void THistory::bt_RestoreClick() {
    const int index = ls_Periods.Selected();
    if (index < 0 || index >= static_cast<int>(records_.size())) return;
    const HistoryRecord period = records_[static_cast<size_t>(index)];
    if (period.kind != HistoryKind::Period) return;
    lb_Status.SetText(("Making the shared data as " + period.user + " left it on " + When(period.ended) + "...").c_str());
    const std::string shared = shared_, local = local_;
    const RestoreResult restored = RunWithProgress(
        *this, [&](TransferProgress& progress) { return RestoreVersion(shared, period, local, &progress); },
        kRestoreTitle);
    if (!Alive()) return;
    if (!restored.ok) {
        lb_Status.SetText("No copy was made.");
        ShowMessages(Handle(), restored.messages);
        return;
    }
    lb_Status.SetText(("Copy made: " + restored.folder).c_str());
    TellRestored(Handle(), period, restored.folder);
}

void THistory::bt_CloseClick() { Close(); }

LRESULT THistory::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    // Escape closes the window, as Close does.
    if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL && lp == 0) {
        bt_CloseClick();
        return 0;
    }
    return forms::Form::HandleMessage(msg, wp, lp);
}

void ShowHistory(forms::Form& owner, const std::string& shared, const std::string& local) {
    if (shared.empty() || local.empty()) {
        ShowErrorMessage(owner.Handle(), kTitle,
                         "The history needs the Remote Shared Data Folder and the Local Data Folder: set both in "
                         "the configuration first.");
        return;
    }
    THistory history(&owner, shared, local);
    history.ShowModal();
}

void RunHistoryOnly() {
    OwnedText programPath(ProgramPath());
    MakeIniFileName(programPath.Str());
    OwnedText title(BaseTitle(programPath.Str()));
    const std::string program = title.Str()[0] ? title.Str() : "Carvelund";
    const std::string setUp = " Start " + program + " without arguments to set them.";
    std::string problem;
    if (!ReadSettings())
        problem = std::string("The settings file ") + GetIniFileName() +
                  " cannot be read, so the shared data folder is not known." + setUp;
    else if (!GetRemoteSharedDataFolder()[0] || !GetLocalDataFolder()[0])
        problem = std::string("The settings file ") + GetIniFileName() +
                  " does not name both the Remote Shared Data Folder and the Local Data Folder." + setUp;
    if (!problem.empty()) {
        ShowErrorMessage(nullptr, kTitle, problem.c_str());
        return;
    }
    // Relative folders mean what they mean to a period started here.
    THistory history(nullptr, FullPathOf(GetRemoteSharedDataFolder()), FullPathOf(GetLocalDataFolder()));
    if (!history.Alive()) {
        ShowErrorMessage(nullptr, kTitle,
                         ("Can't create the history window : " +
                          std::string(SystemErrorName(static_cast<int32_t>(history.CreateError()))))
                             .c_str());
        return;
    }
    forms::application::Run(history);
}
