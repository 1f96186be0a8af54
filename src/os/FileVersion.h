#pragma once
// What an executable file says about itself.
#include <cstdint>
#include <string>
#include <vector>

namespace os {

// Copies the version resource (the VS_VERSIONINFO block, UTF-16 keys and strings) of the
// file at `path` into `block`. False, with `block` empty, when the file cannot be read, is not
// a regular file, is no PE image, or has no version resource. Reads only the image's headers,
// its resource directory and the resource (at most 64 KiB), however large the file is.
bool LoadVersionResource(const std::string& path, std::vector<std::uint8_t>& block);

// For an executable without a version resource: a description and a company from what the
// desktop knows about it (Linux: its desktop entry, else its package). False, with both
// texts empty, when nothing is known.
bool DescribeExecutable(const std::string& path, std::string& description, std::string& company);

// Builds the indexes DescribeExecutable reads (Linux: the package and desktop-entry indexes),
// which its first call would otherwise build. May run on another thread while endpoints are
// read; lookups meanwhile wait for it. Does nothing where there is nothing to prepare.
void PrepareDescriptions();

} // namespace os
