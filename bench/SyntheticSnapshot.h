#pragma once
// A made-up snapshot for the list benchmarks, so that the plain list and the Qt model are
// measured on the same rows.
#include <cstddef>
#include <vector>

#include "snapshot/UnitGetTcpUdpTable.h"

struct SyntheticTables {
    std::vector<File_Rec> tcp;
    std::vector<File_Rec> udp;
};

// A machine with 300 programs; every tenth endpoint is UDP. With `changed`, every 200th TCP
// endpoint moved to another port and every 200th (offset 100) changed state: 1 % in all.
SyntheticTables makeSyntheticSnapshot(std::size_t rows, bool changed);
