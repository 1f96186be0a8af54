#include "ui/UnitFormProcInfo.h"

#include <utility>

namespace ProcInfoLook {

const std::vector<ProcInfoPlacement>& Placements() {
    static const std::vector<ProcInfoPlacement> placements{
        {ProcInfoControl::Panel1, 0, 0, ClientWidth, ClientHeight},
        {ProcInfoControl::Image1, 16, 16, 32, 32},
        {ProcInfoControl::LabExe, 80, 16, 0, 0},
        {ProcInfoControl::LabExeDes, 80, 45, 0, 0},
        {ProcInfoControl::LabPID, 80, 69, 0, 0},
        {ProcInfoControl::Labcomp, 80, 91, 0, 0},
        {ProcInfoControl::Shape1, 8, 114, 409, 1},
        {ProcInfoControl::Label5, 10, 121, 54, 14},
        {ProcInfoControl::EPath, 8, 140, 409, 20},
        {ProcInfoControl::LabLocate, 12, 179, 48, 14},
        {ProcInfoControl::Shape2, 8, 198, 409, 1},
        {ProcInfoControl::BTNOK, 321, 202, 97, 26},
    };
    return placements;
}

} // namespace ProcInfoLook

TFormProcInfo::TFormProcInfo(ProcInfoView& view, ShellRequests& shell, Locate locate)
    : m_view(view), m_shell(shell), m_locate(std::move(locate)) {
    m_view.onLocateClick = [this] { LabLocateClick(); };
    m_view.onOkClick = [this] { BTNOKClick(); };
}

TFormProcInfo::~TFormProcInfo() {
    m_view.onLocateClick = nullptr;
    m_view.onOkClick = nullptr;
}

void TFormProcInfo::Show(const TMyRec& rec, int largeIconIndex) {
    m_path = rec.ProcPath;
    m_view.setText(ProcInfoControl::LabExe, rec.ProcName);
    m_view.setText(ProcInfoControl::LabExeDes, rec.FileDesc + "  ");
    m_view.setText(ProcInfoControl::LabPID, "PID:" + rec.PID);
    m_view.setText(ProcInfoControl::Labcomp, rec.Company + " ");
    m_view.setText(ProcInfoControl::EPath, rec.ProcPath);
    m_view.drawLargeIcon(largeIconIndex);
    m_view.showModal();
}

void TFormProcInfo::LabLocateClick() {
    if (m_locate)
        m_locate(m_path);
    else
        m_shell.selectInFileManager(m_path);
}

void TFormProcInfo::BTNOKClick() {
    m_view.closeDialog();
}
