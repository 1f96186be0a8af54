#pragma once
// The settings file: a profile (INI) file of section lines "[Name]" and entry lines
// "Key=Value". A line ends at CR LF, a lone CR or a lone LF. Section and key names match
// without regard to ASCII case; the first section and the first entry of a name count. A
// write changes the one entry and keeps every other byte of the file; a new entry goes after
// the last entry of its section, a new section at the end of the file. A file that starts with
// a UTF-16 byte order mark (little- or big-endian) is read and written in that encoding; any
// other file is taken byte for byte (UTF-8, or the system's 8-bit code page).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "os/SettingsPath.h"

// How a settings file is read and replaced as a whole; by default the os layer's functions.
struct ProfileStorage {
    std::function<os::FileReadResult(const std::string&, std::string&)> read = os::ReadWholeFile;
    std::function<bool(const std::string&, const std::string&)> replace = os::ReplaceWholeFile;
};

// One settings file by its full name. Every read and every write goes to the file itself;
// nothing is kept open or cached between calls.
class IniFile {
public:
    explicit IniFile(std::string fileName, ProfileStorage storage = {})
        : m_fileName(std::move(fileName)), m_storage(std::move(storage)) {}

    const std::string& fileName() const { return m_fileName; }

    // The entry's value, blanks around it removed, cut to 2047 bytes; `defaultValue` when the
    // file, the section or the key is missing or the file cannot be read.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // The entry read as an integer (ParseProfileInteger); `defaultValue` when it is missing,
    // empty or no integer.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    // Any integer other than 0 is true.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Sets one entry. The file and its folder are created when missing. Throws
    // std::runtime_error "Unable to write to <file name>" when the file cannot be read back
    // first or the system refuses the write; the file is then unchanged. Line breaks in
    // `value` are written as spaces, so that one entry stays one line.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Writes "1" or "0".
    void WriteBool(std::string_view section, std::string_view key, bool value);

private:
    std::string m_fileName;
    ProfileStorage m_storage;
};

// The text of a profile value as an integer: optional blanks, an optional sign, then decimal
// digits or hexadecimal digits after "0x", "0X" or "$", and nothing after them. Decimal must
// fit a signed 32-bit integer; hexadecimal may use all 32 bits (so "$FFFFFFFF" is -1).
std::optional<std::int32_t> ParseProfileInteger(std::string_view text);

// The value of `key` in `section` of the profile text `text`, blanks around it removed;
// nullopt when the section or key does not occur.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// `text` with the value of `key` in `section` set to `value` (see the rules above). `value`
// must hold no line break.
std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);
