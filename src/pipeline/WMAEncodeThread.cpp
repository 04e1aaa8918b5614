#include "WMAEncodeThread.h"

#include "Global.h"
#include "Mp3EncodeThreadParse.h"
#include "ProgramFolder.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>

std::string TWMAEncodeProcess::FindEncoder()
{
    std::string w;
    if (const char* dir = std::getenv("SONVALE_SYSTEM_DIR"); dir && dir[0] != '\0')
        w = dir;
    else
        w = ExecutableFolder();
    while (w.size() > 1 && w.back() == '/')
        w.pop_back();
    for (const char* candidate : {"/WM8EUTIL", "/system32/WM8EUTIL", "/system/WM8EUTIL"}) {
        const std::string path = w + candidate;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    // An installed program keeps it with its other helpers (/usr/libexec/sonvale).
    if (const std::string installed = HelperFolder() + "WM8EUTIL"; !HelperFolder().empty() && access(installed.c_str(), X_OK) == 0)
        return installed;
    return {};
}

std::vector<std::string> TWMAEncodeProcess::Arguments(const std::string& encoder) const
{
    // A profile outside the table is reset to the default, in the options as well: they hold it
    // from then on (a WMA run is where that number is checked).
    int32_t profile = Wma.BitRate;
    if (profile < 0 || profile >= WMAProfileCount) {
        profile = DefaultWMAProfile;
        Options.WMAOptions.BitRate = DefaultWMAProfile;
    }
    std::vector<std::string> argv{encoder, "-input", InputFile, "-output", OutputFile, "-a_setting", WMAProfiles[profile].Setting};
    if (UseID3) {
        if (!Artist.empty())
            argv.insert(argv.end(), {"-author", Artist});
        if (!Comment.empty())
            argv.insert(argv.end(), {"-description", Comment});
    }
    return argv;
}

std::optional<int64_t> TWMAEncodeProcess::EstimatedSeconds(int64_t elapsed, int64_t inputSize) const
{
    int64_t total = 2;
    if (inputSize >= 2000000) {
        int32_t profile = Wma.BitRate;
        if (profile < 0 || profile >= WMAProfileCount)
            profile = DefaultWMAProfile;
        const int64_t written = GetFileSize64(OutputFile);
        int64_t expected = static_cast<int64_t>(
            std::nearbyint(static_cast<double>(inputSize) * 1000.0 / WMASizeRatios[static_cast<std::size_t>(profile)]));
        if (written > expected)
            expected = written;
        if (written <= 0)
            return std::nullopt;
        total = expected * elapsed / written;
    }
    return elapsed >= total ? elapsed + 1 : total;
}

void TWMAEncodeProcess::StartProcess()
{
    EndEarlierRun();
    const std::string encoder = FindEncoder();
    if (encoder.empty()) {
        m_dialogs.MessageBox(QStringLiteral("Can not find WMA encoder,please contact with ") + QLatin1String(SupportAddress) +
                                 QStringLiteral("!"),
                             Dialogs::Icon::Information);
        ReportEnd(eeDeclined, {});
        return;
    }
    const std::vector<std::string> argv = Arguments(encoder);
    std::vector<bool> quoted(argv.size(), false);
    quoted[2] = quoted[4] = true;  // the two file names
    Launch(encoder, argv, JoinCommandLine(argv, quoted));
}

void TWMAEncodeProcess::Parse(std::string_view chunk)
{
    const TWmaOutput out = ParseWMAOutput(chunk, SecondsSinceStart());
    for (const TProgressReport& r : out.Reports) {
        auto info = std::make_unique<TProcessInfo>();
        info->Code = r.Code;
        info->ElapsedText = r.ElapsedText;
        info->EstimatedText = r.EstimatedText;
        Report(std::move(info), false);
    }
    if (out.ErrorLine) {
        // The run has failed: it is ended here, so that its later exit is never reported as the
        // end of whatever run the job starts next.
        Engaged = false;
        EndEarlierRun();
        ReportEnd(eeErrorLine, out.Line);
    }
}

void TWMAEncodeProcess::ReportEnd(int32_t status, const std::string& text)
{
    auto info = std::make_unique<TProcessInfo>();
    info->Code = piWmaEnded;
    info->Status = status;
    info->ElapsedText = text;
    Report(std::move(info), true);
}
