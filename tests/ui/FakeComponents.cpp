#include "ui/FakeComponents.h"

void FakeTimer::scheduleChanged() {
    if (enabled() && interval() > 0)
        ++starts;
    else
        ++stops;
}

ui::Answer FakeMessageBoxes::askYesNo(const std::string& text, const std::string& caption,
                                      ui::DefaultButton defaultButton) {
    questions.push_back({text, caption, defaultButton});
    if (whileOpen)
        whileOpen();
    if (answers.empty())
        return defaultAnswer;
    const ui::Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

void FakeMessageBoxes::showMessage(const std::string& text) {
    messages.push_back(text);
    if (whileOpen)
        whileOpen();
}

void FakeMessageBoxes::showError(const std::string& text) {
    errors.push_back(text);
    if (whileOpen)
        whileOpen();
}

void FakeWindow::setStayOnTop(bool stayOnTop) {
    stayOnTopCalls.push_back(stayOnTop);
    topmost = stayOnTop;
}

TFormKestrelControls FakeKestrelWindow::controls(ui::Worker* worker) {
    return TFormKestrelControls{
        .Form = Form,
        .VTS = VTS,
        .LabAppCount = LabAppCount,
        .LabNetCount = LabNetCount,
        .Label5 = Label5,
        .EFilter = EFilter,
        .BTNOptions = BTNOptions,
        .BTNHelp = BTNHelp,
        .BTNUpdate = BTNUpdate,
        .BTNHomePage = BTNHomePage,
        .BTNRefresh = BTNRefresh,
        .BTNEndPro = BTNEndPro,
        .CBShowLocal = CBShowLocal,
        .CBAutoRefresh = CBAutoRefresh,
        .CBAlwaysTop = CBAlwaysTop,
        .CBShowInfo = CBShowInfo,
        .Timer1 = Timer1,
        .PmTree = {&NProcInfo, &NEndProc, &NCloseConnection, &NCopy, &NExport, &NLocate, &NProperty,
                   &NViewLog},
        .PmOptions = {&ShowIPv6, &ResolveNames, &ShowTraffic},
        .PmOptionCommands = {&NConnectionLog},
        .Messages = Messages,
        .Worker = worker ? *worker : Worker,
    };
}

int FakeSystemImageList::iconIndexOfPath(const std::string& path) {
    return path.empty() ? -1 : static_cast<int>(path.size());
}

int FakeSystemImageList::copyIcon(int systemIndex, bool small, ImageStore& target) {
    const int index = target.addSystemIcon(systemIndex, small);
    if (index >= 0)
        copiedSmall.push_back(small);
    return index;
}

void FakeWorker::start(Job job, Completion completion) {
    ++started;
    m_pending.push_back({std::move(job), std::move(completion)});
}

bool FakeWorker::complete() {
    if (m_pending.empty())
        return false;
    Pending next = std::move(m_pending.front());
    m_pending.pop_front();
    std::exception_ptr error;
    try {
        if (next.job)
            next.job();
    } catch (...) {
        error = std::current_exception();
    }
    ui::dispatchEvent(m_report, [&next, &error] { next.completion(error); });
    return true;
}

bool FakeWorker::fail(std::exception_ptr error) {
    if (m_pending.empty())
        return false;
    Pending next = std::move(m_pending.front());
    m_pending.pop_front();
    ui::dispatchEvent(m_report, [&next, &error] { next.completion(error); });
    return true;
}

void FakeWorker::runAll() {
    while (complete()) {
    }
}
