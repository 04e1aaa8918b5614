#include "JobSettings.h"

#include "Global.h"

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
    return s;
}
