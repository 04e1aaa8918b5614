#pragma once
// The command line of sonvale-cli taken apart, without running anything: the command, its
// options ("--name value", "--name=value" or a bare "--flag") and the plain arguments.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct TCliArgs {
    std::string Command;                          // empty: none given
    std::map<std::string, std::string> Values;    // "--drive 2" -> {"drive", "2"}
    std::set<std::string> Flags;                  // "--json" -> "json"
    std::vector<std::string> Plain;               // everything else, in order
    std::string Error;                            // why the line cannot be used; empty when it can

    bool Has(const std::string& name) const { return Flags.count(name) != 0 || Values.count(name) != 0; }
};

// valueOptions: the options of the command that take a value; any other "--x" is a flag, and the
// caller refuses flags it does not know. "--" ends the options.
TCliArgs ParseCliArgs(const std::vector<std::string>& args, const std::set<std::string>& valueOptions);

// "1,3-5" -> 1, 3, 4, 5: numbers from 1 to 99, ranges low to high, each once, in the order given.
// Nothing when the text is not such a list.
std::optional<std::vector<int>> ParseTrackList(std::string_view text);

// A whole decimal number within [low, high]; nothing otherwise ("", "+3", "3x", "08" is 8).
std::optional<int> ParseNumber(std::string_view text, int low, int high);

// Text from a disc or a lookup as a terminal line may show it: every control character (C0, DEL,
// and C1 as UTF-8 encodes it, U+0080..U+009F) as a space, so that a title cannot move the cursor,
// clear the line or set the terminal's title. Other UTF-8 is kept byte for byte.
std::string TerminalText(std::string_view text);
