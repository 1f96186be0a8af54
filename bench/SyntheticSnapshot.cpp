#include "SyntheticSnapshot.h"

#include <string>
#include <utility>

SyntheticTables makeSyntheticSnapshot(std::size_t rows, bool changed) {
    SyntheticTables t;
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t program = i % 300;
        File_Rec r;
        r.PID = std::to_string(1000 + program);
        r.ProcName = "program" + std::to_string(program) + ".bin";
        r.ProcPath = "/usr/lib/application" + std::to_string(program) + "/bin/" + r.ProcName;
        r.FileDesc = "Application number " + std::to_string(program);
        r.Company = "Example Org";
        r.LocalAddr = "10.0." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250);
        r.LocalPort = std::to_string(1024 + i % 60000);
        if (i % 10 == 9) {
            t.udp.push_back(std::move(r));
            continue;
        }
        r.RemoteAddr = "192.168." + std::to_string(i / 200 % 200) + "." + std::to_string(i % 200);
        r.RemotePort = "443";
        r.State = 5;
        if (changed && i % 200 == 0)
            r.LocalPort = "7" + r.LocalPort;
        if (changed && i % 200 == 100)
            r.State = 8;
        t.tcp.push_back(std::move(r));
    }
    return t;
}
