// A share and one PC, fresh for each end-to-end test, with the reads most tests need.
#pragma once

#include "app/Workspace.h"

#include <gtest/gtest.h>

#include <string>

namespace e2e {

class PeriodFixture : public ::testing::Test {
protected:
    TempDir root;
    Share share{root};
    Pc pc{root, share, "pcA"};

    std::string SharedNotes() const { return testsupport::ReadFileOr(share.data + "\\notes.txt", "<none>"); }
    std::string LocalNotes() const { return testsupport::ReadFileOr(pc.local + "\\notes.txt", "<none>"); }
    // A file the test writes when the application may go on ("go files").
    std::string Go(const std::string& name) const { return root / name; }
    void LetAppEnd(const std::string& go) const { testsupport::WriteFile(Go(go), "go"); }
};

}  // namespace e2e
