// "结束进程" through the window logic against the real system: the child's row is made from a
// real snapshot, the command ends the child and the refresh that follows drops its row; with
// a stale identity in the row the child lives on and the user hears "无法结束进程!".
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "os/ProcessControl.h"
#include "os/linux/SocketChild.h"
#include "ui/FakeComponents.h"
#include "ui/TempDir.h"
#include "ui/UnitFormKestrel.h"

namespace {

class CommandsLiveTest : public ::testing::Test {
protected:
    void create() {
        TFormKestrelServices services = systemFormServices();
        services.settingsFile = settings.file("Kestrel.ini");
        services.enableDebugPrivilege = [] { return false; };
        form = std::make_unique<TFormKestrel>(w.controls(), std::move(services));
        form->FormCreate();
        ASSERT_TRUE(w.Messages.errors.empty());
    }

    RowHandle rowOf(pid_t pid, std::uint16_t port) const {
        for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row)) {
            if (row->Rec.PID == std::to_string(pid) && row->Rec.LocalPort == std::to_string(port))
                return row;
        }
        return nullptr;
    }

    void endFocused(RowHandle row) {
        w.VTS.selectRow(row);
        w.VTS.setFocusedRow(row);
        ui::dispatchEvent(w.Messages, [this] { w.BTNEndPro.click(); });
        // The end, then the refresh it asks for, run here in turn.
        w.Worker.runAll();
    }

    TempDir settings;
    FakeKestrelWindow w;
    std::unique_ptr<TFormKestrel> form;
};

TEST_F(CommandsLiveTest, EndedProcessLeavesTheList) {
    SocketChild child(false);
    ASSERT_GT(child.pid(), 0);
    create();
    const RowHandle row = rowOf(child.pid(), child.port());
    ASSERT_NE(row, nullptr);
    ASSERT_FALSE(row->Rec.ProcPath.empty());
    ASSERT_NE(row->Rec.ProcStartTime, 0u);

    endFocused(row);
    EXPECT_TRUE(w.Messages.messages.empty());
    EXPECT_TRUE(w.Messages.errors.empty());
    EXPECT_FALSE(child.alive());
    EXPECT_EQ(rowOf(child.pid(), child.port()), nullptr)
        << "the refresh after the end drops the row";
}

TEST_F(CommandsLiveTest, StaleIdentityLeavesTheProcessAlive) {
    SocketChild child(false);
    ASSERT_GT(child.pid(), 0);
    create();
    const RowHandle row = rowOf(child.pid(), child.port());
    ASSERT_NE(row, nullptr);
    // As if the row had been made for an earlier process that had this ID.
    row->Rec.ProcStartTime -= 1;

    endFocused(row);
    EXPECT_EQ(w.Messages.messages, std::vector<std::string>{"无法结束进程!"});
    EXPECT_TRUE(child.alive());
    EXPECT_NE(rowOf(child.pid(), child.port()), nullptr);
}

} // namespace
