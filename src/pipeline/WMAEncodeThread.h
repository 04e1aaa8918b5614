#pragma once
// The WMA encoder run: WM8EUTIL, found in the system folder ($SONVALE_SYSTEM_DIR, or the folder
// of the sonvale executable) as WM8EUTIL, system32/WM8EUTIL or system/WM8EUTIL.

#include "Mp3EncodeThread.h"

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

protected:
    void Parse(std::string_view chunk) override;
    void ReportEnd(int32_t status, const std::string& text) override;
};
