// The history beside the share: each copy back that switches a tree in leaves a record and
// its increment; from them any kept period's tree is made again, byte for byte; retention
// keeps what the settings say; a kill at any point leaves the history readable and the
// data whole.
#include "ShellTestKit.h"
#include "shell/FileSystem.h"
#include "shell/Wintools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace testsupport;
using namespace shelltest;

namespace {

class History : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTree(share, {{"notes.txt", "the first page"}, {"sub\\table.dat", "table"}, {"sub\\old.txt", "old"}});
        MakeFolder(local);
        ASSERT_TRUE(TransferTree(share, local).ok);
    }

    // A period of `user`: `change` is made to the local data, which is copied back with its
    // history; the share's tree is then kept as reference\<number>.
    std::string Period(const std::string& user, const std::function<void()>& change, HistoryRetention keep = {}) {
        change();
        HistoryAuthor author;
        author.user = user;
        author.pc = user + "'s PC";
        GetSystemTimeAsFileTime(&author.began);
        author.retention = keep;
        TransferOptions options;
        options.history = &author;
        const TransferResult result = TransferTree(local, share, nullptr, options);
        EXPECT_TRUE(result.ok) << (result.messages.empty() ? "" : result.messages[0].text);
        const std::string kept = dir / ("reference\\" + std::to_string(++periods));
        CopyTree(share, kept);
        return kept;
    }

    std::vector<HistoryRecord> Records() const {
        std::vector<HistoryRecord> records;
        std::string problem;
        EXPECT_TRUE(ReadHistory(share, records, problem)) << problem;
        return records;
    }

    std::vector<HistoryRecord> PeriodRecords() const {
        std::vector<HistoryRecord> periods;
        for (const auto& record : Records())
            if (record.kind == HistoryKind::Period) periods.push_back(record);
        return periods;
    }

    // The copy of `period`'s tree, checked against what the share held after it; empty
    // when none could be made.
    std::string Restored(const HistoryRecord& period) {
        const RestoreResult restored = RestoreVersion(share, period, local);
        if (!restored.ok) {
            std::printf("not restored: %s\n", restored.messages.empty() ? "" : restored.messages[0].text.c_str());
            return "";
        }
        EXPECT_EQ(restored.folder.rfind(local + ".version-", 0), 0u) << restored.folder;
        EXPECT_FALSE(Exists(restored.folder + ".incoming"));
        return restored.folder;
    }

    TempDir dir;
    const std::string share = dir / "Work\\Data";
    const std::string local = dir / "PC\\Data";
    int periods = 0;
};

TEST_F(History, EachPeriodIsRecordedAndEveryVersionComesBackByteForByte) {
    std::vector<std::string> kept;
    kept.push_back(Period("Ann", [&] { WriteFile(local + "\\notes.txt", "the first page, by Ann"); }));
    kept.push_back(Period("Bob", [&] {
        WriteFile(local + "\\added.txt", "Bob's new file");
        DeleteFileA((local + "\\sub\\old.txt").c_str());
    }));
    kept.push_back(Period("Ann", [&] {
        WriteFile(local + "\\notes.txt", "the first page, by Ann, again");
        RemoveTree(local + "\\sub");
        WriteFile(local + "\\sub", "a file where a folder was");
    }));
    const std::vector<HistoryRecord> periods = PeriodRecords();
    ASSERT_EQ(periods.size(), 3u);
    const std::vector<std::string> users = {"Ann", "Bob", "Ann"};
    for (size_t i = 0; i < 3; ++i) {
        const HistoryRecord& period = periods[2 - i];  // newest first
        SCOPED_TRACE(i);
        EXPECT_EQ(period.user, users[i]);
        EXPECT_EQ(period.pc, users[i] + "'s PC");
        EXPECT_LE(CompareFileTime(&period.began, &period.ended), 0);
        const std::string copy = Restored(period);
        ASSERT_FALSE(copy.empty());
        std::string difference;
        EXPECT_TRUE(SameTreeExactly(kept[i], copy, &difference)) << difference;
    }
    // What each period changed against the tree before it.
    std::vector<HistoryChange> changes;
    std::string problem;
    ASSERT_TRUE(ReadHistoryChanges(share, periods[1], changes, problem)) << problem;
    std::map<std::wstring, char> byName;
    for (const auto& change : changes) byName[change.name] = change.kind;
    EXPECT_EQ(byName, (std::map<std::wstring, char>{{L"added.txt", 'A'}, {L"sub\\old.txt", 'R'}}));
    EXPECT_EQ(periods[1].added, 1u);
    EXPECT_EQ(periods[1].removed, 1u);
    EXPECT_EQ(periods[1].changed, 0u);
    EXPECT_EQ(periods[0].changed, 1u);
    EXPECT_EQ(periods[0].removed, 1u) << "sub\\table.dat went with its folder";
}

// The share and its trees are never written by a restore, and a tree changed by other
// means (here the save, by hand) is not taken for the one the period left.
TEST_F(History, ARestoreWritesNothingOnTheShareAndKeepsNoCopyThatIsNotExact) {
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "page two"); });
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "page three"); });
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "page four"); });
    const std::vector<HistoryRecord> periods = PeriodRecords();
    CopyTree(dir / "Work", dir / "share before");
    ASSERT_FALSE(Restored(periods[2]).empty());
    std::string difference;
    EXPECT_TRUE(SameTreeExactly(dir / "share before", dir / "Work", &difference)) << difference;

    WriteFile(share + ".saved\\notes.txt", "page three, changed by hand");
    RestoreResult restored = RestoreVersion(share, periods[1], local);
    EXPECT_FALSE(restored.ok);
    ASSERT_FALSE(restored.messages.empty());
    EXPECT_NE(restored.messages[0].text.find("can no longer be made again from what the share holds"), std::string::npos)
        << restored.messages[0].text;
    size_t copies = 0;
    for (const auto& entry : ListTree(dir / "PC")) {
        EXPECT_EQ(entry.relative.find(".incoming"), std::string::npos) << entry.relative;
        copies += entry.relative.find(".version-") != std::string::npos && entry.relative.find('\\') == std::string::npos;
    }
    EXPECT_EQ(copies, 1u) << "the first copy only";
}

// Events stand in the log between the periods, newest first; a record cut short by a
// crash is never read, and never swallows the record written after it.
TEST_F(History, EventsAreRecordedAndARecordCutShortIsLeftOut) {
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "page two"); });
    HistoryRecord event;
    event.user = "Bob";
    event.pc = "Bob's PC";
    event.text = "deleted the lock of Ann (PC ANN-1)\twith a tab";
    std::string problem;
    ASSERT_TRUE(RecordHistoryEvent(share, event, problem)) << problem;
    const std::string log = HistoryFolder(share) + "\\periods.log";
    const std::string whole = ReadFile(log);
    WriteFile(log, whole + "P\t20261211-1200");  // a write cut short
    EXPECT_EQ(Records().size(), 2u);
    Period("Bob", [&] { WriteFile(local + "\\notes.txt", "page three"); });
    const std::vector<HistoryRecord> records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].kind, HistoryKind::Period);
    EXPECT_EQ(records[0].user, "Bob");
    EXPECT_EQ(records[1].kind, HistoryKind::Event);
    EXPECT_EQ(records[1].text, event.text);
    EXPECT_EQ(records[2].user, "Ann");
}

// Over 50 periods the increments kept are what the settings say, the oldest going first;
// the records stay, and every version that the kept increments reach comes back.
TEST_F(History, RetentionKeepsWhatTheSettingsSayOverFiftyPeriods) {
    const struct Case {
        const char* what;
        HistoryRetention keep;
        size_t kept;  // increments kept after 50 periods
    } cases[] = {
        {"the last 5 periods", {5, 0, 1000}, 5},
        // The first two periods have no tree of a period before them to go back to.
        {"everything of the last days", {5, 14, 1000}, 48},
        {"no more than half the tree's size", {50, 14, 50}, 0 /* counted below */},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(dir / "Work");
        RemoveTree(dir / "PC");
        RemoveTree(dir / "reference");
        periods = 0;
        SetUp();
        // Each period rewrites a 100-byte file of a 1,000-byte tree.
        for (int n = 0; n < 10; ++n) WriteFile(local + "\\f" + std::to_string(n) + ".dat", std::string(100, 'x'));
        for (int period = 1; period <= 50; ++period)
            Period("Ann", [&] { WriteFile(local + "\\f" + std::to_string(period % 10) + ".dat", std::string(100, 'a' + period % 26)); },
                   c.keep);
        const std::vector<HistoryRecord> periods = PeriodRecords();
        ASSERT_EQ(periods.size(), 50u);
        size_t kept = 0;
        uint64_t keptBytes = 0;
        bool older = false;
        for (const auto& period : periods) {
            if (!period.incrementKept) {
                older = true;
                continue;
            }
            EXPECT_FALSE(older) << "an increment kept after an older one went: " << period.id;
            ++kept;
            keptBytes += period.incrementBytes;
            EXPECT_TRUE(Exists(HistoryFolder(share) + "\\" + period.id + "\\journal"));
        }
        if (c.keep.sizePercent >= 1000) {
            EXPECT_EQ(kept, c.kept);
        } else {
            EXPECT_GT(kept, 0u);
            EXPECT_LE(keptBytes, periods.front().treeBytes * c.keep.sizePercent / 100);
            EXPECT_GT(keptBytes + periods[kept].incrementBytes, periods.front().treeBytes * c.keep.sizePercent / 100);
        }
        // What the kept increments reach comes back; what they do not is said so.
        const std::string reached = Restored(periods[kept]);  // one step past the kept ones: reached from the other tree
        if (!reached.empty()) EXPECT_TRUE(SameTreeExactly(dir / ("reference\\" + std::to_string(50 - kept)), reached));
        if (kept + 2 < periods.size()) EXPECT_TRUE(Restored(periods[kept + 2]).empty());
    }
}

// ---- Killed at any point ---------------------------------------------------------------

class KilledHistory : public History {
protected:
    // Put back, then repaired: the data and its save are whole, the history reads, and
    // what it says of the killed period is true.
    void ExpectHistoryAndDataWhole(const std::string& before, const std::string& after) {
        EXPECT_TRUE(RepairTransfer(share).ok);
        std::string difference;
        const bool switched = SameTreeExactly(after, share);
        EXPECT_TRUE(switched || SameTreeExactly(before, share, &difference)) << difference;
        const std::vector<HistoryRecord> periods = PeriodRecords();
        ASSERT_GE(periods.size(), 3u);
        if (periods.size() == 4u) {
            EXPECT_TRUE(switched) << "a record for a switch that was never done";
            const std::string copy = Restored(periods[0]);
            EXPECT_TRUE(!copy.empty() && SameTreeExactly(after, copy));
        }
        // An earlier version still comes back.
        const std::string second = Restored(periods[periods.size() - 2]);
        EXPECT_TRUE(!second.empty() && SameTreeExactly(dir / "reference\\2", second));
        for (const auto& entry : ListTree(HistoryFolder(share)))
            EXPECT_EQ(entry.relative.find(".incoming"), std::string::npos) << entry.relative;
        // And the next period goes on.
        EXPECT_FALSE(Period("Carl", [&] { WriteFile(local + "\\notes.txt", "the next page"); }).empty());
        EXPECT_EQ(PeriodRecords().size(), periods.size() + 1);
    }
};

TEST_F(KilledHistory, AKillAtAnyPointOfACopyBackLeavesTheHistoryReadable) {
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "page two"); });
    Period("Bob", [&] { WriteFile(local + "\\added.txt", "added"); });
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "page three"); });
    const std::string before = dir / "reference\\3";
    KillMoments kills(dir / "Work", dir / "moments");
    WriteFile(local + "\\notes.txt", "page four");
    std::string after;
    // With a retention of one period, so that the pruning of the third's increment is
    // killed too.
    const auto moments = kills.Take([&] { after = Period("Ann", [] {}, {1, 0, 1000}); });
    ASSERT_GE(moments.size(), 8u);
    CopyTree(local, dir / "local as sent");
    for (const auto& moment : moments) {
        SCOPED_TRACE(moment);
        kills.PutBack(moment);
        RemoveTree(local);
        CopyTree(dir / "local as sent", local);
        ExpectHistoryAndDataWhole(before, after);
    }
}

// A restore killed at any point leaves no folder under the version's name, and nothing
// on the share changed; the next restore makes the copy whole.
TEST_F(KilledHistory, ARestoreKilledAtAnyPointLeavesNoCopyUnderItsName) {
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "page two"); });
    Period("Bob", [&] { WriteFile(local + "\\notes.txt", "page three"); });
    Period("Ann", [&] { WriteFile(local + "\\notes.txt", "page four"); });
    const HistoryRecord oldest = PeriodRecords().back();
    KillMoments kills(dir / "PC", dir / "moments");
    CopyTree(dir / "Work", dir / "share before");
    const auto moments = kills.Take([&] { EXPECT_FALSE(Restored(oldest).empty()); });
    for (const auto& moment : moments) {
        SCOPED_TRACE(moment);
        kills.PutBack(moment);
        for (const auto& entry : ListTree(dir / "PC")) {
            const bool named = entry.relative.rfind("Data.version-", 0) == 0 && entry.relative.find('\\') == std::string::npos &&
                               entry.relative.find(".incoming") == std::string::npos;
            if (named && moment != moments.back()) ADD_FAILURE() << "a copy under its name before it was whole: " << entry.relative;
        }
        std::string difference;
        EXPECT_TRUE(SameTreeExactly(dir / "share before", dir / "Work", &difference)) << difference;
    }
    kills.PutBack(moments[moments.size() / 2]);
    const std::string copy = Restored(oldest);
    EXPECT_TRUE(!copy.empty() && SameTreeExactly(dir / "reference\\1", copy));
}

}  // namespace
