// Chistory: the History window: who worked with the shared data when, what each period
// changed, and a copy of the shared data as any kept period left it.
#pragma once

#include "forms/Form.h"
#include "shell/transfer/Transfer.h"

#include <string>
#include <vector>

// Reads the history beside the shared data folder; writes nothing there. "Restore a
// Copy..." makes the selected period's tree in a new folder beside the local data folder:
// a copy to work with, never the data itself.
class THistory : public forms::Form {
public:
    // `shared`: the shared data folder whose history is shown; `local`: the local data
    // folder, beside which a restored copy is made. Full paths.
    THistory(forms::Form* owner, std::string shared, std::string local);
    ~THistory() override;

    // Reads the history again (on a worker: the window keeps answering) and shows it, the
    // newest record selected. False when there is none or it cannot be read; the window
    // then says so.
    bool Reload();
    // The records as listed, newest first.
    const std::vector<HistoryRecord>& Records() const { return records_; }

    // In tab order.
    forms::ListBox& ls_Periods;  // one line per record: when, who, PC, files added, changed, removed
    forms::Memo& m_Changes;      // the selected record in full: a period's files, an event's text
    forms::Button& bt_Restore;
    forms::Button& bt_Close;
    // Not in the tab order.
    forms::Label& lb_Folder;
    forms::Label& lb_Status;
    std::vector<forms::Label*> columnHeads;

private:
    void FormShow();
    void ls_PeriodsSelect();
    void bt_RestoreClick();
    void bt_CloseClick();
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    // The selected record in the memo; a period's files are read from the share.
    void ShowSelected();
    void ShowNothing(const std::string& why);

    std::string shared_, local_;
    std::vector<HistoryRecord> records_;
    int shownIndex_ = -1;          // the record the memo shows
    bool readingChanges_ = false;  // a read runs on a worker: a new selection waits for it
    bool selectedAgain_ = false;
};

// The History window, modal over `owner`; a box instead when a folder is not set.
void ShowHistory(forms::Form& owner, const std::string& shared, const std::string& local);

// "<program> /history": the History window alone, with the folders of the program's
// settings file; returns once it is closed. Settings that do not name both folders are
// told in a box.
void RunHistoryOnly();
