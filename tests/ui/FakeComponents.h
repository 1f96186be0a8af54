#pragma once
// Plain fakes of the component layer for driving the window logic without a display, and a
// FakeKestrelWindow that holds one of each control the main window needs.
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "list/ImageListEx.h"
#include "list/MemoryListControl.h"
#include "ui/CommandComponents.h"
#include "ui/Components.h"
#include "ui/UnitFormKestrel.h"
#include "ui/Worker.h"

class FakeButton : public ui::Button {
public:
    int enabledChanges = 0;

protected:
    void enabledChanged() override { ++enabledChanges; }
};

class FakeCheckBox : public ui::CheckBox {
public:
    int checkedChanges = 0;

protected:
    void checkedChanged() override { ++checkedChanges; }
};

class FakeLabel : public ui::Label {};

// Answers `answer` (empty: cancelled) after running `whileOpen`, as if the user took a while;
// `asked` holds "caption|suggested name" of every question.
class FakeSaveDialog : public ui::SaveFileDialog {
public:
    std::string askSaveFileName(const std::string& caption,
                                const std::string& suggestedName) override {
        asked.push_back(caption + "|" + suggestedName);
        if (whileOpen)
            whileOpen();
        return answer;
    }
    std::string answer;
    std::function<void()> whileOpen;
    std::vector<std::string> asked;
};

class FakeTextField : public ui::TextField {
public:
    // How often the text was mirrored and the focus asked for.
    int textChanges = 0;
    int focusRequests = 0;

protected:
    void textChanged() override { ++textChanges; }
    void focusRequested() override { ++focusRequests; }
};

class FakeTimer : public ui::Timer {
public:
    // How often the timer was (re)started with a fresh interval, and stopped.
    int starts = 0;
    int stops = 0;

protected:
    void scheduleChanged() override;
};

class FakeMenuItem : public ui::MenuItem {
public:
    int checkedChanges = 0;

protected:
    void checkedChanged() override { ++checkedChanges; }
};

class FakeMessageBoxes : public ui::MessageBoxes {
public:
    struct Question {
        std::string text;
        std::string caption;
        ui::DefaultButton defaultButton;
    };

    // Answers handed out in order; when none is queued the box returns `defaultAnswer`.
    std::deque<ui::Answer> answers;
    ui::Answer defaultAnswer = ui::Answer::No;

    // Runs while a box is open, as a modal loop would run other events (timers) meanwhile.
    std::function<void()> whileOpen;

    std::vector<Question> questions;
    std::vector<std::string> messages;
    std::vector<std::string> errors;

    ui::Answer askYesNo(const std::string& text, const std::string& caption,
                        ui::DefaultButton defaultButton) override;
    void showMessage(const std::string& text) override;
    void showError(const std::string& text) override;
};

// A worker that runs nothing by itself: the test decides when the oldest job runs (here, on
// the test's thread) and completes, or fails without running.
class FakeWorker : public ui::Worker {
public:
    // Completions go through dispatchEvent with `report`, as the toolkit's loop would.
    explicit FakeWorker(ui::ErrorReport& report) : m_report(report) {}

    void start(Job job, Completion completion) override;

    int started = 0;
    std::size_t pending() const { return m_pending.size(); }
    // Runs the oldest job, then its completion. False when none is pending.
    bool complete();
    // Completes the oldest job with `error` instead of running it.
    bool fail(std::exception_ptr error);
    // Completes jobs, also those their completions start, until none is left.
    void runAll();
    // Drops every pending job and completion, as when the window has gone.
    void abandon() { m_pending.clear(); }

private:
    struct Pending {
        Job job;
        Completion completion;
    };
    ui::ErrorReport& m_report;
    std::deque<Pending> m_pending;
};

class FakeWindow : public ui::Window {
public:
    std::string currentCaption;
    bool topmost = true; // the main window starts topmost
    int left_ = 100;
    int top_ = 50;
    int width_ = 762;
    int height_ = 472;
    std::vector<bool> stayOnTopCalls;

    std::string caption() const override { return currentCaption; }
    void setCaption(const std::string& caption) override { currentCaption = caption; }
    bool stayOnTop() const override { return topmost; }
    void setStayOnTop(bool stayOnTop) override;
    int left() const override { return left_; }
    int top() const override { return top_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
};

// The toolkit's image list, counting its pictures only.
class FakeImageStore : public ImageStore {
public:
    int w = 16;
    int h = 16;
    int images = 0;

    int width() const override { return w; }
    int height() const override { return h; }
    void setWidth(int width) override { w = width; }
    void setHeight(int height) override { h = height; }
    int count() const override { return images; }
    int addSystemIcon(int systemIndex, bool) override { return systemIndex < 0 ? -1 : images++; }
};

// System icons: a path's icon is the length of its text (none for an empty path).
class FakeSystemImageList : public SystemImageList {
public:
    std::vector<bool> copiedSmall; // one entry per copy: from the small list or the large one

    int iconIndexOfPath(const std::string& path) override;
    int copyIcon(int systemIndex, bool small, ImageStore& target) override;
};

// Every control of the main window, as fakes, with the list kept in memory.
struct FakeKestrelWindow {
    FakeWindow Form;
    MemoryListControl VTS{ListHeaderColumns::WithOptional};
    FakeLabel LabAppCount;
    FakeLabel LabNetCount;
    FakeLabel Label5;
    FakeTextField EFilter;
    FakeButton BTNOptions;
    FakeButton BTNHelp;
    FakeButton BTNUpdate;
    FakeButton BTNHomePage;
    FakeButton BTNRefresh;
    FakeButton BTNEndPro;
    FakeCheckBox CBShowLocal;
    FakeCheckBox CBAutoRefresh;
    FakeCheckBox CBAlwaysTop;
    FakeCheckBox CBShowInfo;
    FakeTimer Timer1;
    FakeMenuItem NProcInfo;
    FakeMenuItem NEndProc;
    FakeMenuItem NCloseConnection;
    FakeMenuItem NCopy;
    FakeMenuItem NExport;
    FakeMenuItem NLocate;
    FakeMenuItem NProperty;
    FakeMenuItem NViewLog;
    // The options menu's items, in OptionItem order.
    FakeMenuItem ShowIPv6;
    FakeMenuItem ResolveNames;
    FakeMenuItem ShowTraffic;
    FakeMenuItem NConnectionLog;
    FakeMessageBoxes Messages;
    FakeWorker Worker{Messages};

    // With `worker` in the place of the fake one when given.
    TFormKestrelControls controls(ui::Worker* worker = nullptr);
};
