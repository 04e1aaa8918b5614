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
    for (const int32_t f : FormatsOfKeys(Options.JobOptions.Formats))
        if (f != FormatOfStored(s.Common.OutputFormat).Stored && FormatOfStored(f).Encoded)
            s.AlsoFormats.push_back(f);
    // WAV with further formats: the first of them is encoded, and each track's WAV kept beside it.
    if (!FormatOfStored(s.Common.OutputFormat).Encoded && !s.AlsoFormats.empty()) {
        s.Common.OutputFormat = s.AlsoFormats.front();
        s.AlsoFormats.erase(s.AlsoFormats.begin());
        s.Common.IsKeepWav = true;
    }
    s.DriveOffsets = Options.DriveOffsets;
    return s;
}

std::vector<int32_t> FormatsOfKeys(const std::string& keys, std::string* unknown)
{
    std::vector<int32_t> formats;
    std::string key;
    for (std::size_t i = 0; i <= keys.size(); ++i) {
        if (i < keys.size() && keys[i] != ',') {
            if (keys[i] != ' ')
                key += keys[i];
            continue;
        }
        if (const TOutputFormat* format = FormatOfKey(key)) {
            if (std::find(formats.begin(), formats.end(), format->Stored) == formats.end())
                formats.push_back(format->Stored);
        } else if (!key.empty() && unknown) {
            *unknown = key;
        }
        key.clear();
    }
    return formats;
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
