#pragma once
// The process details dialog "进程详细信息", free of any toolkit: what it shows, where, and
// what its link and button do. The toolkit draws it through ProcInfoView.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "list/TMyRec.h"
#include "ui/ShellRequests.h"

enum class ProcInfoControl {
    Panel1,
    Image1,
    LabExe,
    LabExeDes,
    LabPID,
    Labcomp,
    Shape1,
    Label5,
    EPath,
    LabLocate,
    Shape2,
    BTNOK,
};

struct ProcInfoRgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// Client coordinates in pixels at 96 dots per inch; a width of 0 means the label sizes itself
// to its text.
struct ProcInfoPlacement {
    ProcInfoControl control;
    int left;
    int top;
    int width;
    int height;
};

namespace ProcInfoLook {
inline constexpr const char* Caption = "进程详细信息";
inline constexpr int ClientWidth = 425;
inline constexpr int ClientHeight = 237;
inline constexpr const char* FontFamily = "Arial";
inline constexpr int FontPixelHeight = 11;
inline constexpr int IconSize = 32;
inline constexpr int IconLeft = 1; // where the icon sits inside Image1
inline constexpr int IconTop = 1;
inline constexpr ProcInfoRgb PanelColour{236, 245, 248};
inline constexpr ProcInfoRgb LineColour{196, 211, 219};
inline constexpr ProcInfoRgb PathColour{235, 235, 235};
inline constexpr ProcInfoRgb LinkColour{0, 0, 255};
inline constexpr ProcInfoRgb ButtonFace{209, 218, 238};
inline constexpr ProcInfoRgb ButtonHighlight{106, 141, 244};
inline constexpr ProcInfoRgb ButtonHotTrack{255, 199, 60};
inline constexpr const char* PathLabel = "文件路径: ";
inline constexpr const char* LocateCaption = "定位文件";
inline constexpr const char* OkCaption = "确定";

// Every control of the dialog, in the order the toolkit should create them.
const std::vector<ProcInfoPlacement>& Placements();
} // namespace ProcInfoLook

// The toolkit's side of the dialog.
class ProcInfoView {
public:
    virtual ~ProcInfoView() = default;
    // Caption of a label, or the text of EPath.
    virtual void setText(ProcInfoControl control, const std::string& text) = 0;
    // Draws picture `index` of the 32-pixel icon cache into Image1; a negative index leaves
    // Image1 empty.
    virtual void drawLargeIcon(int index) = 0;
    // Runs the dialog modally with the focus on BTNOK; returns when it is closed.
    virtual void showModal() = 0;
    // Ends the modal run.
    virtual void closeDialog() = 0;

    // What the link LabLocate and the button BTNOK do; set by TFormProcInfo.
    std::function<void()> onLocateClick;
    std::function<void()> onOkClick;
};

class TFormProcInfo {
public:
    // `locate`, when set, makes the link's request instead of `shell` (the main window asks the
    // file manager on its worker, so that a slow one does not hold up the dialog).
    using Locate = std::function<void(const std::string& path)>;
    TFormProcInfo(ProcInfoView& view, ShellRequests& shell, Locate locate = {});
    ~TFormProcInfo();
    TFormProcInfo(const TFormProcInfo&) = delete;
    TFormProcInfo& operator=(const TFormProcInfo&) = delete;

    // Copies the row's texts into the dialog (in the order LabExe, LabExeDes, LabPID, Labcomp,
    // EPath), draws icon `largeIconIndex` and runs the dialog. The texts are copies: a refresh
    // while the dialog is open does not change them.
    void Show(const TMyRec& rec, int largeIconIndex);

    // The link: shows the file in the file manager, whether or not it still exists.
    void LabLocateClick();
    void BTNOKClick();

    const std::string& path() const { return m_path; }

private:
    ProcInfoView& m_view;
    ShellRequests& m_shell;
    Locate m_locate;
    std::string m_path;
};
