#pragma once
// kestrel-snapshot --follow: the connection log, one line per event as it happens.

enum class FollowFormat { Text, Json };

struct FollowOptions {
    FollowFormat format = FollowFormat::Text;
    int intervalSeconds = 10; // between the snapshots that learn owners and openings
};

// Runs until SIGINT or SIGTERM (exit status 0) or until the output is closed (0, quietly);
// 1 with a message on standard error when no snapshot can be taken or writing fails.
int followLog(const FollowOptions& options);
