#include "JobSettings.h"

#include "JobItems.h"

#include "Global.h"

#include <algorithm>
#include <thread>

TJobSettings TJobSettings::FromOptions()
{
    TJobSettings s;
    s.Common = Options.CommonOptions;
    s.Mp3 = Options.Mp3Options;
    s.Ogg = Options.OggOptions;
    s.Wma = Options.WMAOptions;
    s.Flac = Options.FlacOptions;
    s.Opus = Options.OpusOptions;
    s.Tags = Options.Tags;
    s.Naming = Options.Naming;
    s.MusicBrainz = Options.MusicBrainz;
    s.UseID3 = Options.UseID3;
    s.Disc = Options.CDInfo;
    s.Secure = Options.SecureOptions;
    s.Ctdb = Options.Ctdb;
    s.Encoders = EncodersAtOnce(Options.JobOptions.Encoders);
    s.DriveOffsets = Options.DriveOffsets;
    return s;
}

int EncodersAtOnce(int n)
{
    if (n <= 0)
        n = static_cast<int>(std::thread::hardware_concurrency());  // 0 when it cannot tell
    return std::clamp(n, 1, MaxEncoders);
}

void CheckLoadedNaming(TOptionsSetting& options)
{
    const std::string problem = NamingTemplateProblem(options.Naming.Template);
    if (problem.empty())
        return;
    OptionsLoadNotes.push_back("options.ini: " + problem + " \"%title%\" is used.");
    options.Naming.Template = "%title%";
}
