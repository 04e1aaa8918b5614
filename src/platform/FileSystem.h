#pragma once
// Small file-system questions the program asks in several places. Linux has no read-only
// attribute and no share modes; these functions say what stands in for them.

#include <string>

// True when the file exists and the user may not change it: no write permission bit is set at
// all (the Linux form of the read-only attribute; it holds even for root), or the system refuses
// write access.
bool IsReadOnlyFile(const std::string& path);

// Takes the advisory lock that marks a file as being written by this program, without waiting.
// False when another open file (in this process or another) holds it.
bool TryLockForWriting(int fd);

// The folder part of a path, with its trailing "/" ("/a/b.ini" -> "/a/"); "./" for a bare name.
std::string FolderOf(const std::string& path);
