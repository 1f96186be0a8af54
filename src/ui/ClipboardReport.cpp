#include "ui/ClipboardReport.h"

#ifndef KESTREL_REPORT_HOME_URL
#error "KESTREL_REPORT_HOME_URL must be defined by the build"
#endif

const char* const ReportSeparator =
    "\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015"
    "\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015\u2015";

const char* const ReportHomePageURL = KESTREL_REPORT_HOME_URL;

std::string BuildClipboardReport(const TMyRec& rec) {
    static const char* const Eol = "\r\n";
    std::string report;
    const auto line = [&report](const char* label, const std::string& value) {
        report += label;
        report += value;
        report += Eol;
    };
    report += ReportSeparator;
    report += Eol;
    line("程序名称:", rec.ProcName);
    line("程序说明:", rec.FileDesc);
    line("路径:", rec.ProcPath);
    line("PID:", rec.PID);
    line("网络协议:", rec.Protocol);
    line("本机地址:", rec.LocalAddr);
    line("本地端口:", rec.LocalPort);
    line("目标地址:", rec.RemoteAddr);
    line("目标端口:", rec.RemotePort);
    line("状态:", rec.State);
    line("生成:Kestrel", std::string());
    line("主页:", ReportHomePageURL);
    report += ReportSeparator;
    report += Eol;
    return report;
}
