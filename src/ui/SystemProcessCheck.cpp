#include "ui/SystemProcessCheck.h"

std::string UpperCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool IsUnderSystemDir(const std::string& path, const std::vector<std::string>& systemDirs) {
    const std::string upper = UpperCaseAscii(path);
    for (const std::string& dir : systemDirs) {
        if (!dir.empty() && upper.find(UpperCaseAscii(dir)) != std::string::npos)
            return true;
    }
    return false;
}
