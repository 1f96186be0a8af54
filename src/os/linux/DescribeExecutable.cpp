#include "os/FileVersion.h"

namespace os {

bool DescribeExecutable(const std::string&, std::string& description, std::string& company)
{
    description.clear();
    company.clear();
    return false;
}

} // namespace os
