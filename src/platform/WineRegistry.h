#pragma once
// The per-user registry of Wine, where Windows media players run under Wine keep their lists of
// recent files: $WINEPREFIX/user.reg (by default ~/.wine/user.reg). A text file of sections, one
// per key ("[Software\\Vendor\\Key] 1700000000"), each followed by its values ("name"="data",
// @="default"). Edited in memory and written back in one step (a new file renamed over it), so a
// file that cannot be parsed or written stays exactly as it was.

#include <string>
#include <vector>

class TWineRegistry {
public:
    // False when the file is missing or is no Wine registry file.
    bool Load(const std::string& path);
    // Deletes a key (backslashes single: "Software\\Vendor\\Key"), which must exist and have no
    // subkeys, as the registry deletes keys.
    bool DeleteKey(const std::string& key);
    bool HasKey(const std::string& key) const;
    // Deletes a value of a key; false when either is missing.
    bool DeleteValue(const std::string& key, const std::string& name);
    // Writes the file back; false (the old file untouched) when it cannot.
    bool Save();

private:
    struct Section {
        std::string Key;                 // unescaped, as compared
        std::vector<std::string> Lines;  // the header line first, as read
    };
    int Find(const std::string& key) const;

    std::string m_path;
    std::vector<std::string> m_head;     // the lines before the first key
    std::vector<Section> m_sections;
};

// $WINEPREFIX/user.reg, or ~/.wine/user.reg.
std::string WineUserRegistry();
// Whether a program of that executable name (case ignored, "realplay.exe") runs under Wine for
// this user, or Wine's server holds the registry open.
bool WineProgramRunning(const std::string& exeName);

// The two players' histories: the number of keys or values deleted; 0 when the file is missing
// (no Wine), -1 when it cannot be parsed or written or Wine's server is running (it keeps the
// registry in memory and would write the old lists back).
int ClearRealPlayerHistory(const std::string& registryFile);
int ClearMediaPlayerHistory(const std::string& registryFile);
