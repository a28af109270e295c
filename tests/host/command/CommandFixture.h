#pragma once

// Shared set-up of the command tests: a fresh module state, the recording
// UI services and an in-memory host.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/DialogEntry.h"
#include "host/HostState.h"
#include "host/clsRequeteText.h"
#include "host/fake/FakeHost.h"
#include "support/RecordingUi.h"

namespace vark::host::test {

class CommandFixture : public ::testing::Test {
protected:
    void SetUp() override {
        g_pApplication().reset();
        SetCriterionDialogEntry(nullptr);
    }
    void TearDown() override {
        g_pApplication().reset();
        SetCriterionDialogEntry(nullptr);
    }

    /// The "Error Call Stack Sequence" line the report shows for `label`.
    static std::string stackLine(const std::string& label) {
        return "\t" + CommandErrorLocation(label) + "\r\n";
    }

    ScopedRecordingUi m_ui;
    std::shared_ptr<fake::FakeApplication> m_app = std::make_shared<fake::FakeApplication>();
};

}  // namespace vark::host::test
