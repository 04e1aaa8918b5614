#include "ProfileFile.h"

#include "FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(Blanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(Blanks);
    return s.substr(first, last - first + 1);
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return out;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// Name of a section header line ("  [ Name ] trailing" -> "Name"), or false when the line is none.
bool SectionName(std::string_view line, std::string_view& name)
{
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[')
        return false;
    const auto close = t.find(']');
    if (close == std::string_view::npos)
        return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// The value as the profile API hands it back: trimmed, one pair of matching quotes removed.
std::string_view ValueOf(std::string_view line)
{
    std::string_view v = Trim(line.substr(line.find('=') + 1));
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

// At most max characters of UTF-8 text; a sequence is kept whole or dropped whole.
std::string_view CutCharacters(std::string_view s, std::size_t max)
{
    std::size_t chars = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        if (chars == max)
            return s.substr(0, i);
        std::size_t len = 1;
        const auto lead = static_cast<unsigned char>(s[i]);
        if (lead >= 0xF0)
            len = 4;
        else if (lead >= 0xE0)
            len = 3;
        else if (lead >= 0xC0)
            len = 2;
        std::size_t j = 1;
        while (j < len && i + j < s.size() && (static_cast<unsigned char>(s[i + j]) & 0xC0) == 0x80)
            ++j;
        i += j;  // a broken sequence counts its bytes read so far as one character
        ++chars;
    }
    return s;
}

bool ParseInteger(std::string_view t, int32_t& out)
{
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    if (t.empty())
        return false;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        t.remove_prefix(2);
        if (t.size() > 8)
            return false;
        uint32_t bits = 0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), bits, 16);
        if (ec != std::errc() || end != t.data() + t.size())
            return false;
        out = static_cast<int32_t>(negative ? 0u - bits : bits);
        return true;
    }
    if (t.front() < '0' || t.front() > '9')
        return false;
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, 10);
    if (ec != std::errc() || end != t.data() + t.size())
        return false;
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return false;
    out = static_cast<int32_t>(value);
    return true;
}

// What WriteString puts after "=": reading it back gives the value unchanged.
std::string StoredForm(std::string_view value)
{
    std::string v(value);
    for (char& c : v)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    const bool alteredByReading =
        !v.empty() && (Blanks.find(v.front()) != std::string_view::npos ||
                       Blanks.find(v.back()) != std::string_view::npos ||
                       (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()));
    return alteredByReading ? '"' + v + '"' : v;
}

}  // namespace

EProfileWriteError::EProfileWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path)
{
}

TProfileFile::TProfileFile(std::string path)
    : m_path(std::move(path))
{
    std::string text;
    std::error_code ec;
    if (std::filesystem::is_regular_file(m_path, ec)) {
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        text = buffer.str();
    }
    Parse(text);
}

void TProfileFile::Parse(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))  // a byte-order mark from an editor
        text.remove_prefix(3);
    m_sections.assign(1, Section{});
    m_sectionIndex.clear();
    while (!text.empty()) {
        auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);

        std::string_view name;
        if (SectionName(line, name)) {
            AddSection(std::string(line), name);
            continue;
        }
        Line entry{std::string(line), {}};
        if (const auto eq = line.find('='); eq != std::string_view::npos)
            entry.key = Lower(Trim(line.substr(0, eq)));
        m_sections.back().lines.push_back(std::move(entry));
    }
}

void TProfileFile::AddSection(std::string header, std::string_view name)
{
    m_sectionIndex[Lower(name)].push_back(m_sections.size());
    m_sections.push_back(Section{std::move(header), {}});
}

const TProfileFile::Line* TProfileFile::FindKey(std::string_view section, std::string_view key) const
{
    return const_cast<TProfileFile*>(this)->FindKey(section, key);
}

TProfileFile::Line* TProfileFile::FindKey(std::string_view section, std::string_view key)
{
    const auto found = m_sectionIndex.find(Lower(Trim(section)));
    if (found == m_sectionIndex.end())
        return nullptr;
    const std::string wanted = Lower(Trim(key));
    if (wanted.empty())
        return nullptr;
    for (const std::size_t index : found->second)
        for (Line& line : m_sections[index].lines)
            if (line.key == wanted)
                return &line;
    return nullptr;
}

std::string TProfileFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    const Line* line = FindKey(section, key);
    return std::string(CutCharacters(line ? ValueOf(line->text) : def, MaxStringLength));
}

int32_t TProfileFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const
{
    const Line* line = FindKey(section, key);
    int32_t value = 0;
    if (line && ParseInteger(ValueOf(line->text), value))
        return value;
    return def;
}

bool TProfileFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::vector<std::pair<std::string, std::string>> TProfileFile::ReadSection(std::string_view section) const
{
    std::vector<std::pair<std::string, std::string>> keys;
    const auto found = m_sectionIndex.find(Lower(Trim(section)));
    if (found == m_sectionIndex.end())
        return keys;
    std::set<std::string> seen;
    for (const std::size_t index : found->second)
        for (const Line& line : m_sections[index].lines)
            if (!line.key.empty() && seen.insert(line.key).second)
                keys.emplace_back(std::string(Trim(std::string_view(line.text).substr(0, line.text.find('=')))),
                                  ReadString(section, line.key, ""));
    return keys;
}

void TProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    if (Line* line = FindKey(section, key)) {
        // The key keeps its spelling in the file; only the value changes.
        line->text = line->text.substr(0, line->text.find('=') + 1) + StoredForm(value);
        return;
    }
    const std::string text = std::string(Trim(key)) + "=" + StoredForm(value);
    const std::string sectionKey = Lower(Trim(section));
    if (!m_sectionIndex.contains(sectionKey))
        AddSection("[" + std::string(Trim(section)) + "]", Trim(section));
    // Into the first section of that name, after its last line that is not blank.
    auto& lines = m_sections[m_sectionIndex[sectionKey].front()].lines;
    auto at = lines.end();
    while (at != lines.begin() && Trim(std::prev(at)->text).empty())
        --at;
    lines.insert(at, Line{text, Lower(Trim(key))});
}

void TProfileFile::WriteInteger(std::string_view section, std::string_view key, int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

void TProfileFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

std::string TProfileFile::Text() const
{
    std::string out;
    for (const Section& section : m_sections) {
        if (!section.header.empty())
            out += section.header + '\n';
        for (const Line& line : section.lines)
            out += line.text + '\n';
    }
    return out;
}

void TProfileFile::UpdateFile() const
{
    // Write through a symbolic link to the file it names, so the link survives the rename.
    std::error_code ec;
    std::string target = m_path;
    if (std::filesystem::is_symlink(m_path, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(m_path, ec);
        if (!ec)
            target = resolved.string();
    }

    struct stat st {};
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || IsReadOnlyFile(target)))
        throw EProfileWriteError(m_path);
    const std::string folder = FolderOf(target);
    if (IsReadOnlyFile(folder))
        throw EProfileWriteError(m_path);

    std::string tempName = target + ".XXXXXX";
    const int fd = mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0)
        throw EProfileWriteError(m_path);
    bool closed = false;
    try {
        const std::string text = Text();
        if (!WriteFully(fd, text.data(), text.size()))
            throw EProfileWriteError(m_path);
        // The new file keeps the old one's permissions; a new file gets the usual 0666 less umask.
        mode_t mode = st.st_mode & 07777;
        if (!exists) {
            const mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        }
        if (fchmod(fd, mode) != 0 || fsync(fd) != 0)
            throw EProfileWriteError(m_path);
        closed = true;
        if (close(fd) != 0)
            throw EProfileWriteError(m_path);
    } catch (...) {
        if (!closed)
            close(fd);
        unlink(tempName.c_str());
        throw;
    }
    if (rename(tempName.c_str(), target.c_str()) != 0) {
        unlink(tempName.c_str());
        throw EProfileWriteError(m_path);
    }
    if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        fsync(dir);  // make the rename itself durable
        close(dir);
    }
}
