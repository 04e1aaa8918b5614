// libFuzzer target: the ID3v1 reader on any file's last bytes, and the writer: a tag read, saved
// back into the same file and read again gives the same fields. Built by -DSONVALE_FUZZ=ON with
// clang; run by tests/fuzz/run.sh.

#include "id3.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const int fd = memfd_create("tag", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size))
        __builtin_trap();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    Tid3tag tag;
    const uint16_t read = tag.ReadFromFile(path);
    if (read < 256) {
        const std::string fields[] = {tag.Title(), tag.Artist(), tag.Album(), tag.Year(), tag.Comment()};
        const uint8_t track = tag.Track(), genre = tag.Genre;
        if (tag.SaveToFile(path) >= 256)
            __builtin_trap();
        Tid3tag again;
        if (again.ReadFromFile(path) >= 256)
            __builtin_trap();
        const std::string after[] = {again.Title(), again.Artist(), again.Album(), again.Year(), again.Comment()};
        for (int i = 0; i < 5; ++i)
            if (fields[i] != after[i])
                __builtin_trap();
        if (again.Track() != track || again.Genre != genre)
            __builtin_trap();
    }
    close(fd);
    return 0;
}
