#pragma once
// The WMA encoder run: WM8EUTIL, found in the system folder ($SONVALE_SYSTEM_DIR, or the folder
// of the sonvale executable) as WM8EUTIL, system32/WM8EUTIL or system/WM8EUTIL.

#include "Mp3EncodeThread.h"

#include <optional>

// Where the missing-encoder message sends the user.
inline constexpr const char* SupportAddress = "support@sonvale.org";

class TWMAEncodeProcess : public TEncodeProcess {
public:
    using TEncodeProcess::TEncodeProcess;

    void StartProcess() override;
    // The encoder's path, or empty.
    static std::string FindEncoder();
    // The arguments for encoder: the profile of Wma.BitRate (8 when outside 0..32, and then reset
    // to 8 in the options as well), and with UseID3 the artist and the comment.
    std::vector<std::string> Arguments(const std::string& encoder) const;
    // The encoder prints nothing until it is done, so a run's whole time is estimated from its
    // output's growth: the size the profile makes of inputSize bytes (or what is written, when
    // more) over the bytes written in elapsed seconds. A small input (under 2 000 000 bytes)
    // takes 2 s. Never at or below elapsed (elapsed + 1 then). Nothing while no byte is written.
    std::optional<int64_t> EstimatedSeconds(int64_t elapsed, int64_t inputSize) const;

protected:
    void Parse(std::string_view chunk) override;
    void ReportEnd(int32_t status, const std::string& text) override;
};
