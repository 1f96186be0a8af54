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

TFormKestrelControls FakeKestrelWindow::controls() {
    return TFormKestrelControls{
        Form,          VTS,         LabAppCount, LabNetCount, Label5,    EFilter,
        BTNHelp,       BTNUpdate,   BTNHomePage, BTNRefresh,  BTNEndPro, CBShowLocal,
        CBAutoRefresh, CBAlwaysTop, CBShowInfo,  Timer1,      NProcInfo, NEndProc,
        NCopy,         NLocate,     NProperty,   Messages,
    };
}

int FakeSystemImageList::iconIndexOfPath(const std::string& path) {
    return path.empty() ? -1 : static_cast<int>(path.size());
}

int FakeSystemImageList::copyIcon(int systemIndex, bool small, ImageStore& target) {
    auto* store = dynamic_cast<FakeImageStore*>(&target);
    if (systemIndex < 0 || store == nullptr)
        return -1;
    copiedSmall.push_back(small);
    return store->images++;
}
