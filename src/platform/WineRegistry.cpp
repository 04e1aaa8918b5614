#include "WineRegistry.h"

#include "FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "Software\\\\Vendor" as written in the file -> "Software\\Vendor".
std::string Unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size())
            ++i;
        out += s[i];
    }
    return out;
}

}  // namespace

bool TWineRegistry::Load(const std::string& path)
{
    m_path = path;
    m_head.clear();
    m_sections.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && line.rfind("WINE REGISTRY Version", 0) != 0)
            return false;
        first = false;
        if (!line.empty() && line[0] == '[') {
            const auto close = line.find(']');
            if (close == std::string::npos)
                return false;  // not a registry this program understands: left alone
            m_sections.push_back({Lower(Unescape(line.substr(1, close - 1))), {line}});
        } else if (m_sections.empty()) {
            m_head.push_back(line);
        } else {
            m_sections.back().Lines.push_back(line);
        }
    }
    return !first && !in.bad();
}

int TWineRegistry::Find(const std::string& key) const
{
    const std::string wanted = Lower(key);
    for (std::size_t i = 0; i < m_sections.size(); ++i)
        if (m_sections[i].Key == wanted)
            return static_cast<int>(i);
    return -1;
}

bool TWineRegistry::HasKey(const std::string& key) const
{
    return Find(key) >= 0;
}

bool TWineRegistry::DeleteKey(const std::string& key)
{
    const int at = Find(key);
    if (at < 0)
        return false;
    const std::string prefix = Lower(key) + "\\";
    for (const Section& s : m_sections)
        if (s.Key.rfind(prefix, 0) == 0)
            return false;  // a key with subkeys is not deleted
    m_sections.erase(m_sections.begin() + at);
    return true;
}

bool TWineRegistry::DeleteValue(const std::string& key, const std::string& name)
{
    const int at = Find(key);
    if (at < 0)
        return false;
    std::vector<std::string>& lines = m_sections[static_cast<std::size_t>(at)].Lines;
    const std::string wanted = "\"" + Lower(name) + "\"=";
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (Lower(lines[i]).rfind(wanted, 0) == 0) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

bool TWineRegistry::Save()
{
    std::string text;
    for (const std::string& l : m_head)
        text += l + "\n";
    for (const Section& s : m_sections)
        for (const std::string& l : s.Lines)
            text += l + "\n";
    struct stat st {};
    const mode_t mode = stat(m_path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    const std::string temp = m_path + ".sonvale-new";
    const TFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (fd.get() < 0)
        return false;
    if (!WriteFully(fd.get(), text.data(), text.size()) || fsync(fd.get()) != 0 || rename(temp.c_str(), m_path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string WineUserRegistry()
{
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && prefix[0] == '/')
        return std::string(prefix) + "/user.reg";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.wine/user.reg";
}

bool WineProgramRunning(const std::string& exeName)
{
    const std::string wanted = Lower(exeName);
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    const uid_t me = getuid();
    while (dirent* e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        const std::string dir = std::string("/proc/") + e->d_name;
        struct stat st {};
        if (stat(dir.c_str(), &st) != 0 || st.st_uid != me)
            continue;
        std::ifstream in(dir + "/cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        cmdline = Lower(cmdline);
        // A program under Wine shows its Windows path ("c:\\...\\realplay.exe").
        const auto at = cmdline.find(wanted);
        if (at != std::string::npos && (at == 0 || cmdline[at - 1] == '\\' || cmdline[at - 1] == '/' || cmdline[at - 1] == ' ')) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

int ClearRealPlayerHistory(const std::string& registryFile)
{
    TWineRegistry reg;
    if (access(registryFile.c_str(), F_OK) != 0)
        return 0;  // no Wine for this user: nothing to clear
    if (WineProgramRunning("wineserver") || !reg.Load(registryFile))
        return -1;
    int count = 0;
    for (int n = 1; n <= 8; ++n) {
        if (!reg.DeleteKey("Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips" + std::to_string(n)))
            break;
        ++count;
    }
    return count > 0 && !reg.Save() ? -1 : count;
}

int ClearMediaPlayerHistory(const std::string& registryFile)
{
    TWineRegistry reg;
    if (access(registryFile.c_str(), F_OK) != 0)
        return 0;  // no Wine for this user: nothing to clear
    if (WineProgramRunning("wineserver") || !reg.Load(registryFile))
        return -1;
    const std::string key = "Software\\Microsoft\\MediaPlayer\\Player\\RecentFileList";
    if (!reg.HasKey(key))
        return 0;
    int count = 0;
    for (int n = 0; n <= 8; ++n) {
        if (!reg.DeleteValue(key, "File" + std::to_string(n)))
            break;
        ++count;
    }
    return count > 0 && !reg.Save() ? -1 : count;
}
