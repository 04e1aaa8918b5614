// libFuzzer target: the profile-file reader (options.ini, cdinfo.dat, or whatever a user or
// another program left there) and its writer. The input is the file; every key it names is read
// as text, integer and boolean, and a value taken from the input is written and must read back
// exactly from the text the writer would put on disk. Built by -DSONVALE_FUZZ=ON with clang; run
// by tests/fuzz/run.sh.

#include "ProfileFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace {

// A file in memory, named by its /proc path, holding bytes.
struct MemoryFile {
    explicit MemoryFile(std::string_view bytes)
        : fd(memfd_create("profile", MFD_CLOEXEC))
    {
        if (fd >= 0 && !bytes.empty() && write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            __builtin_trap();
    }
    ~MemoryFile() { close(fd); }
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd); }
    int fd;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const MemoryFile file(text);
    TProfileFile ini(file.Path());

    // Every "name=" of the input as a key, under the section names the input gives and a few of
    // the program's own.
    std::vector<std::string> sections{"Options", "57600", ""}, keys{"OutputFolder", "BitRate", "1"};
    for (std::size_t at = 0, eol; at < text.size(); at = eol + 1) {
        eol = text.find('\n', at);
        if (eol == std::string_view::npos)
            eol = text.size();
        const std::string_view line = text.substr(at, eol - at);
        if (line.starts_with('[') && line.find(']') != std::string_view::npos)
            sections.emplace_back(line.substr(1, line.find(']') - 1));
        else if (const auto eq = line.find('='); eq != std::string_view::npos)
            keys.emplace_back(line.substr(0, eq));
        if (sections.size() + keys.size() > 64)
            break;
    }
    for (const std::string& s : sections)
        for (const std::string& k : keys) {
            static_cast<void>(ini.ReadString(s, k, "default"));
            static_cast<void>(ini.ReadInteger(s, k, 7));
            static_cast<void>(ini.ReadBool(s, k, true));
        }

    // A value from the input, without the line breaks and NULs the writer turns into spaces,
    // written into the parsed file and read back from the text that would be saved.
    std::string value(text.substr(0, std::min<std::size_t>(text.size(), 200)));
    for (char& c : value)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    ini.WriteString("Fuzz", "Value", value);
    const MemoryFile saved(ini.Text());
    const TProfileFile again(saved.Path());
    if (again.ReadString("Fuzz", "Value", "\x01missing") != value)
        __builtin_trap();
    return 0;
}
