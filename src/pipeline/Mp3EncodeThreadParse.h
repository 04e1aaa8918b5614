#pragma once
// Turning what the encoder programs print into progress reports. Pure functions of one chunk of
// output and the run's state; the encoder runs feed them whatever each pipe read returned.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TProgressReport {
    int32_t Code = 0;              // percent, 1..100
    std::string ElapsedText;
    std::string EstimatedText;
};

// The chunk's lines: CR LF, lone CR and lone LF each end a line (encoders redraw a progress line
// with a bare CR); lines that are empty once spaces and control characters are trimmed are left
// out. A line cut between two chunks comes out as two lines.
std::vector<std::string> SplitOutputLines(std::string_view chunk);

// The MP3 encoder's progress: the first line with "%" fixes progressColumn (1-based) at three
// characters before it; on every line with "%" the three characters there (an opening
// parenthesis dropped) are the percent, columns 21-28 the elapsed and 30-37 the estimated time.
// Reports for 1..100 only.
std::vector<TProgressReport> ParseEncodeOutput(std::string_view chunk, int32_t& progressColumn);

// The MP3 decoder's frame counter: "#", a 6-character frame number, a separator and a
// 6-character total, at the column the first "#" fixes. elapsedSeconds: time since the run began.
std::vector<TProgressReport> ParseDecodeOutput(std::string_view chunk, int32_t& progressColumn, double elapsedSeconds);

struct TWmaOutput {
    std::vector<TProgressReport> Reports;  // "100%" lines, before any error line
    bool ErrorLine = false;                // a line containing "ERROR" ended the chunk
    std::string Line;                      // that line, as split
};
TWmaOutput ParseWMAOutput(std::string_view chunk, double elapsedSeconds);

// Trims spaces and control characters at both ends.
std::string TrimOutput(std::string_view text);
