#include "os/linux/DesktopEntries.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>

namespace os::desktop {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The string escapes of the format. Others (such as \" in Exec) stay for the next level.
std::string UnescapeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        char next = value[i + 1];
        switch (next) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += c;
            out += next;
            break;
        }
        ++i;
    }
    return out;
}

// The keys to try for a localised value, best first: lang_COUNTRY@MODIFIER, lang_COUNTRY,
// lang@MODIFIER, lang, then the key without locale.
std::vector<std::string> LocaleKeys(const std::string& key, const std::string& locale) {
    std::string lang = locale;
    std::string modifier;
    if (std::size_t at = lang.find('@'); at != std::string::npos) {
        modifier = lang.substr(at);
        lang.erase(at);
    }
    if (std::size_t dot = lang.find('.'); dot != std::string::npos)
        lang.erase(dot);
    std::string country;
    if (std::size_t underscore = lang.find('_'); underscore != std::string::npos) {
        country = lang.substr(underscore);
        lang.erase(underscore);
    }
    std::vector<std::string> keys;
    if (!lang.empty() && lang != "C" && lang != "POSIX") {
        if (!country.empty() && !modifier.empty())
            keys.push_back(key + "[" + lang + country + modifier + "]");
        if (!country.empty())
            keys.push_back(key + "[" + lang + country + "]");
        if (!modifier.empty())
            keys.push_back(key + "[" + lang + modifier + "]");
        keys.push_back(key + "[" + lang + "]");
    }
    keys.push_back(key);
    return keys;
}

std::string Localised(const std::map<std::string, std::string, std::less<>>& values,
                      const std::string& key, const std::string& locale) {
    for (const std::string& candidate : LocaleKeys(key, locale)) {
        auto found = values.find(candidate);
        if (found != values.end() && !found->second.empty())
            return found->second;
    }
    return {};
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Programs that run another program named in their arguments: an entry launching one of them
// with arguments describes that other program, not the launcher.
bool IsLauncher(const std::string& program) {
    static constexpr std::array<std::string_view, 26> launchers = {"sh",
                                                                   "bash",
                                                                   "dash",
                                                                   "zsh",
                                                                   "perl",
                                                                   "ruby",
                                                                   "java",
                                                                   "node",
                                                                   "nodejs",
                                                                   "flatpak",
                                                                   "snap",
                                                                   "wine",
                                                                   "mono",
                                                                   "xdg-open",
                                                                   "gio",
                                                                   "pkexec",
                                                                   "sudo",
                                                                   "gksu",
                                                                   "gksudo",
                                                                   "kdesu",
                                                                   "exo-open",
                                                                   "gtk-launch",
                                                                   "xterm",
                                                                   "x-terminal-emulator",
                                                                   "gnome-terminal",
                                                                   "konsole"};
    std::string name = BaseName(program);
    if (name.rfind("python", 0) == 0)
        return true;
    return std::find(launchers.begin(), launchers.end(), name) != launchers.end();
}

bool IsFieldCode(const std::string& word) {
    return word.size() == 2 && word[0] == '%';
}

bool IsTrue(const std::map<std::string, std::string, std::less<>>& values, const char* key) {
    auto found = values.find(key);
    return found != values.end() && found->second == "true";
}

void AppendPathList(std::vector<std::string>& out, const char* list, const std::string& suffix) {
    std::string_view rest = list;
    while (!rest.empty()) {
        std::size_t colon = rest.find(':');
        std::string_view item = rest.substr(0, colon);
        if (!item.empty() && item[0] == '/') {
            std::string dir = std::string(item);
            while (dir.size() > 1 && dir.back() == '/')
                dir.pop_back();
            dir += suffix;
            if (std::find(out.begin(), out.end(), dir) == out.end())
                out.push_back(std::move(dir));
        }
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
}

} // namespace

DesktopSources DefaultDesktopSources() {
    DesktopSources sources;
    std::string dataHome;
    if (const char* value = std::getenv("XDG_DATA_HOME"); value != nullptr && value[0] == '/')
        dataHome = value;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        dataHome = std::string(home) + "/.local/share";
    std::string dataDirs = dataHome;
    const char* systemDirs = std::getenv("XDG_DATA_DIRS");
    dataDirs += ":";
    dataDirs += (systemDirs != nullptr && systemDirs[0] != '\0') ? systemDirs
                                                                 : "/usr/local/share:/usr/share";
    // Flatpak and snap export their entries here; sessions started without their profile
    // scripts lack them in XDG_DATA_DIRS.
    if (!dataHome.empty())
        dataDirs += ":" + dataHome + "/flatpak/exports/share";
    dataDirs += ":/var/lib/flatpak/exports/share:/var/lib/snapd/desktop";
    AppendPathList(sources.applicationDirs, dataDirs.c_str(), "/applications");

    const char* path = std::getenv("PATH");
    AppendPathList(sources.pathDirs,
                   (path != nullptr && path[0] != '\0') ? path : "/usr/local/bin:/usr/bin:/bin",
                   "");
    return sources;
}

std::vector<std::string> SplitExec(std::string_view exec) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < exec.size()) {
        while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t' || exec[i] == '\n'))
            ++i;
        if (i == exec.size())
            break;
        std::string word;
        if (exec[i] == '"') {
            ++i;
            while (i < exec.size() && exec[i] != '"') {
                if (exec[i] == '\\' && i + 1 < exec.size())
                    ++i;
                word += exec[i++];
            }
            ++i; // the closing quote, if any
        } else {
            while (i < exec.size() && exec[i] != ' ' && exec[i] != '\t' && exec[i] != '\n')
                word += exec[i++];
        }
        words.push_back(std::move(word));
    }
    return words;
}

ParsedEntry ParseDesktopEntry(std::string_view text, const std::string& locale) {
    std::map<std::string, std::string, std::less<>> values;
    bool inMainGroup = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string key(Trim(line.substr(0, equals)));
        // The first occurrence of a key counts; later duplicates are ignored.
        values.emplace(std::move(key), UnescapeValue(Trim(line.substr(equals + 1))));
    }

    ParsedEntry parsed;
    parsed.hidden = IsTrue(values, "Hidden");
    auto type = values.find("Type");
    parsed.application = !parsed.hidden && type != values.end() && type->second == "Application";
    parsed.entry.name = Localised(values, "Name", locale);
    parsed.entry.genericName = Localised(values, "GenericName", locale);
    if (auto icon = values.find("Icon"); icon != values.end())
        parsed.entry.icon = icon->second;
    parsed.entry.noDisplay = IsTrue(values, "NoDisplay");
    if (auto tryExec = values.find("TryExec"); tryExec != values.end())
        parsed.tryExec = tryExec->second;

    if (auto exec = values.find("Exec"); exec != values.end()) {
        std::vector<std::string> words = SplitExec(exec->second);
        std::size_t first = 0;
        if (first < words.size() && BaseName(words[first]) == "env") {
            ++first;
            while (first < words.size() &&
                   (words[first].find('=') != std::string::npos || words[first].rfind('-', 0) == 0))
                ++first;
        }
        if (first < words.size() && BaseName(words[first]) == "flatpak") {
            // flatpak run [options] ID [arguments]
            std::size_t i = first + 1;
            while (i < words.size() && words[i].rfind('-', 0) == 0)
                ++i;
            if (i < words.size() && words[i] == "run") {
                for (++i; i < words.size() && words[i].rfind('-', 0) == 0; ++i) {
                    if (words[i].rfind("--command=", 0) == 0)
                        parsed.flatpakCommand = words[i].substr(10);
                }
                if (i < words.size())
                    parsed.flatpakApp = words[i];
            }
            return parsed;
        }
        if (first < words.size() && words[first].rfind("/snap/bin/", 0) == 0) {
            std::string name = words[first].substr(10);
            parsed.snapName = name.substr(0, name.find('.'));
            return parsed;
        }
        if (first < words.size()) {
            bool onlyFieldCodes = std::all_of(
                words.begin() + static_cast<std::ptrdiff_t>(first) + 1, words.end(), IsFieldCode);
            if (onlyFieldCodes || !IsLauncher(words[first])) {
                parsed.execProgram = words[first];
                parsed.exactLaunch = onlyFieldCodes;
            }
        }
    }
    return parsed;
}

std::string DescriptionOf(const DesktopEntry& entry) {
    if (entry.genericName.empty())
        return entry.name;
    if (entry.name.empty())
        return entry.genericName;
    auto lower = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return text;
    };
    if (lower(entry.name).find(lower(entry.genericName)) != std::string::npos)
        return entry.name;
    return entry.name + " - " + entry.genericName;
}

DesktopIndex::DesktopIndex(DesktopSources sources) : m_sources(std::move(sources)) {}

const DesktopEntry* DesktopIndex::entryForExecutable(const std::string& path) {
    if (!m_built)
        build();
    std::string resolved = ResolvePath(m_sources.root, path);
    if (resolved.empty())
        resolved = path;
    auto found = m_byExecutable.find(resolved);
    if (found == m_byExecutable.end() && resolved.rfind("/snap/", 0) == 0) {
        std::string name = resolved.substr(6, resolved.find('/', 6) - 6);
        found = m_byExecutable.find("snap:" + name);
    }
    return found == m_byExecutable.end() ? nullptr : &m_entries[found->second.entry];
}

bool DesktopIndex::refreshIfChanged() {
    if (!m_built || !m_stamp.changed())
        return false;
    build();
    return true;
}

void DesktopIndex::build() {
    m_entries.clear();
    m_byExecutable.clear();
    m_stamp.clear();
    std::unordered_set<std::string> seenIds;
    for (const std::string& dir : m_sources.applicationDirs)
        addFolder(dir, "", 0, seenIds);
    m_built = true;
    ++m_generation;
}

void DesktopIndex::addFolder(const std::string& dir, const std::string& idPrefix, int depth,
                             std::unordered_set<std::string>& seenIds) {
    std::string realDir = InRoot(m_sources.root, dir);
    m_stamp.add(realDir);
    std::string text;
    for (const std::string& name : FolderNames(realDir)) {
        std::string child = dir + "/" + name;
        if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) {
            std::string id = idPrefix + name;
            // An entry of a folder of higher precedence masks every entry of the same ID
            // below it, also when it is hidden.
            if (!seenIds.insert(id).second)
                continue;
            if (!ReadFileText(InRoot(m_sources.root, child), text, 1u << 20))
                continue;
            ParsedEntry parsed = ParseDesktopEntry(text, m_sources.locale);
            parsed.entry.id = std::move(id);
            if (parsed.application)
                addEntry(std::move(parsed));
        } else if (depth < 4 && IsFolder(InRoot(m_sources.root, child))) {
            addFolder(child, idPrefix + name + "-", depth + 1, seenIds);
        }
    }
}

void DesktopIndex::addEntry(ParsedEntry parsed) {
    std::size_t index = m_entries.size();
    int displayPenalty = parsed.entry.noDisplay ? 1 : 0;
    m_entries.push_back(std::move(parsed.entry));
    // Lower ranks win: a sure match (TryExec, or Exec with nothing but field codes) beats an
    // Exec with arguments; a shown entry beats a hidden one; then the earlier entry.
    if (!parsed.tryExec.empty())
        indexProgram(parsed.tryExec, index, displayPenalty);
    if (!parsed.execProgram.empty())
        indexProgram(parsed.execProgram, index, (parsed.exactLaunch ? 0 : 2) + displayPenalty);
    if (!parsed.snapName.empty())
        m_byExecutable.try_emplace("snap:" + parsed.snapName, Match{index, displayPenalty});
    if (!parsed.flatpakApp.empty()) {
        std::string command = parsed.flatpakCommand.empty() ? flatpakCommand(parsed.flatpakApp)
                                                            : parsed.flatpakCommand;
        if (!command.empty()) {
            // Seen from outside, a sandboxed program's path is the one inside its sandbox.
            std::string inSandbox = command[0] == '/' ? command : "/app/bin/" + command;
            m_byExecutable.try_emplace(inSandbox, Match{index, displayPenalty});
        }
    }
}

std::string DesktopIndex::flatpakCommand(const std::string& app) const {
    if (app.empty() || app.find('/') != std::string::npos || app[0] == '.')
        return {};
    // The installations: the system's, and each whose exported entries are searched.
    std::vector<std::string> installations = {"/var/lib/flatpak"};
    const std::string exports = "/exports/share/applications";
    for (const std::string& dir : m_sources.applicationDirs) {
        if (dir.size() > exports.size() &&
            dir.compare(dir.size() - exports.size(), exports.size(), exports) == 0)
            installations.push_back(dir.substr(0, dir.size() - exports.size()));
    }
    std::string text;
    for (const std::string& installation : installations) {
        if (!ReadFileText(
                InRoot(m_sources.root, installation + "/app/" + app + "/current/active/metadata"),
                text, 1u << 20))
            continue;
        bool inApplication = false;
        std::string_view rest = text;
        while (!rest.empty()) {
            std::size_t end = rest.find('\n');
            std::string_view line = Trim(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            if (!line.empty() && line[0] == '[')
                inApplication = line == "[Application]";
            else if (inApplication && line.rfind("command=", 0) == 0)
                return std::string(Trim(line.substr(8)));
        }
    }
    return {};
}

void DesktopIndex::indexProgram(const std::string& program, std::size_t entry, int rank) {
    std::string resolved = resolveProgram(program);
    if (resolved.empty())
        return;
    auto [it, added] = m_byExecutable.try_emplace(resolved, Match{entry, rank});
    if (!added && rank < it->second.rank)
        it->second = Match{entry, rank};
}

std::string DesktopIndex::resolveProgram(const std::string& program) const {
    if (program.empty())
        return {};
    if (program.find('/') != std::string::npos)
        return program[0] == '/' ? ResolvePath(m_sources.root, program) : std::string();
    for (const std::string& dir : m_sources.pathDirs) {
        std::string candidate = dir + "/" + program;
        if (IsExecutableFile(m_sources.root, candidate))
            return ResolvePath(m_sources.root, candidate);
    }
    return {};
}

} // namespace os::desktop
