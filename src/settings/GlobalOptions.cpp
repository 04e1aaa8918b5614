#include "GlobalOptions.h"

#include "ProfileFile.h"
#include "ProgramFolder.h"

#include <algorithm>

TOptionsSetting Options;
std::vector<std::string> OptionsLoadNotes;

namespace {

// One row per key, in the order the file is written.
void Exchange(TProfileFile& ini, TOptionsSetting& o, bool load)
{
    const auto str = [&](const char* section, const char* key, std::string& field, const std::string& def) {
        if (load)
            field = ini.ReadString(section, key, def);
        else
            ini.WriteString(section, key, field);
    };
    const auto num = [&](const char* section, const char* key, int32_t& field, int32_t def) {
        if (load) {
            field = ini.ReadInteger(section, key, def);
            // A key that is there but holds no number: its default, said.
            if (const std::string stored = ini.ReadString(section, key, "");
                !stored.empty() && ini.ReadInteger(section, key, def + 1) != field)
                OptionsLoadNotes.push_back("options.ini: [" + std::string(section) + "] " + key + "=" + stored +
                                           " is not a number: " + std::to_string(def) + " is used.");
        } else
            ini.WriteInteger(section, key, field);
    };
    const auto flag = [&](const char* section, const char* key, bool& field, bool def) {
        if (load)
            field = ini.ReadBool(section, key, def);
        else
            ini.WriteBool(section, key, field);
    };

    auto& common = o.CommonOptions;
    str("CommonOptions", "OutputFolder", common.OutputFolder, DefaultOutputFolder());
    num("CommonOptions", "OutputFormat", common.OutputFormat, 0);
    flag("CommonOptions", "IsKeepWav", common.IsKeepWav, false);
    flag("CommonOptions", "IsNormalize", common.IsNormalize, false);
    num("CommonOptions", "NormalizePercent", common.NormalizePercent, 95);
    flag("CommonOptions", "EnableRipTime", common.EnableRipTime, false);
    num("CommonOptions", "RipTime", common.RipTime, 0);

    auto& mp3 = o.Mp3Options;
    flag("Mp3Options", "IsSelectVBR", mp3.IsSelectVBR, false);
    flag("Mp3Options", "IsVBRHead", mp3.IsVBRHead, false);
    num("Mp3Options", "BitRate", mp3.BitRate, 128);
    num("Mp3Options", "MaxBitRate", mp3.MaxBitRate, 320);
    num("Mp3Options", "MpegQuality", mp3.MpegQuality, 0);
    num("Mp3Options", "VBRQuality", mp3.VBRQuality, 4);
    num("Mp3Options", "StereoMode", mp3.StereoMode, 1);

    auto& ogg = o.OggOptions;
    flag("OggOptions", "IsUseCompress", ogg.IsUseCompress, true);
    num("OggOptions", "CompressPosition", ogg.CompressPosition, 30);
    num("OggOptions", "MaxBitRate", ogg.MaxBitRate, 0);
    num("OggOptions", "NomalBitRate", ogg.NomalBitRate, 0);
    num("OggOptions", "MinBitRate", ogg.MinBitRate, 0);

    num("WMAOptions", "BitRate", o.WMAOptions.BitRate, 8);
    num("CDOptions", "Index", o.CDOptions.Index, -1);
    flag("CDOptions", "CDDb", o.CDOptions.CDDb, false);
    flag("RecordOptions", "SaveMp3", o.RecordOptions.SaveMp3, false);

    auto& cddb = o.QueryCDDB;
    str("QueryCDDB", "Server", cddb.Server, DefaultCDDBServer);
    str("QueryCDDB", "Script", cddb.Script, "/~cddb/cddb.cgi");
    flag("QueryCDDB", "UseProxy", cddb.UseProxy, false);
    str("QueryCDDB", "ProxyAddress", cddb.ProxyAddress, "");
    str("QueryCDDB", "Port", cddb.Port, "80");

    flag("ID3", "Use", o.UseID3, false);

    auto& secure = o.SecureOptions;
    flag("SecureOptions", "SecureMode", secure.SecureMode, false);
    num("SecureOptions", "ReadOffset", secure.ReadOffset, 0);
    flag("SecureOptions", "RefuseDamaged", secure.RefuseDamaged, false);
    flag("SecureOptions", "AccurateRip", secure.AccurateRip, true);
    flag("SecureOptions", "WriteLog", secure.WriteLog, true);
    str("SecureOptions", "AccurateRipServer", secure.AccurateRipServer, DefaultAccurateRipServer);
    flag("SecureOptions", "BurstFirst", secure.BurstFirst, true);
    num("SecureOptions", "MinConfidence", secure.MinConfidence, 2);
    flag("SecureOptions", "WriteCue", secure.WriteCue, true);
    flag("SecureOptions", "RipHiddenTrack", secure.RipHiddenTrack, true);
    flag("SecureOptions", "Image", secure.Image, false);

    num("FlacOptions", "Level", o.FlacOptions.Level, 5);
    num("OpusOptions", "BitRate", o.OpusOptions.BitRate, 160);
    flag("Tags", "ReplayGain", o.Tags.ReplayGain, false);
    str("Naming", "Template", o.Naming.Template, "%title%");
    flag("Naming", "PortableNames", o.Naming.PortableNames, true);
    auto& mb = o.MusicBrainz;
    str("MusicBrainz", "Server", mb.Server, "https://musicbrainz.org");
    str("MusicBrainz", "CoverArtServer", mb.CoverArtServer, "https://coverartarchive.org");
    flag("MusicBrainz", "FetchCover", mb.FetchCover, true);
    num("JobOptions", "Encoders", o.JobOptions.Encoders, 1);
    str("JobOptions", "Formats", o.JobOptions.Formats, "");
    str("CTDB", "Server", o.Ctdb.Server, DefaultCtdbServer);
    flag("CTDB", "Use", o.Ctdb.Use, true);
    str("Station", "OnDisc", o.Station.OnDisc, "");
    // One key a drive model, after every other section: "PLEXTOR - DVDR PX-716A=+30 found".
    if (load) {
        o.DriveOffsets.clear();
        for (auto& [key, value] : ini.ReadSection("DriveOffsets"))
            o.DriveOffsets.emplace(std::move(key), std::move(value));
    } else {
        for (const auto& [key, value] : o.DriveOffsets)
            ini.WriteString("DriveOffsets", key, value);
    }
}

}  // namespace

void LoadSaveOptions(bool load)
{
    TProfileFile ini(ConfigFolder() + "options.ini");
    if (load)
        OptionsLoadNotes.clear();
    Exchange(ini, Options, load);
    if (load) {
        // Out of range: the nearest value in range, said.
        const auto clamp = [](const char* section, const char* key, int32_t& field, int32_t low, int32_t high) {
            const int32_t was = field;
            field = std::clamp(field, low, high);
            if (field != was)
                OptionsLoadNotes.push_back("options.ini: [" + std::string(section) + "] " + key + "=" + std::to_string(was) +
                                           " is out of range (" + std::to_string(low) + " to " + std::to_string(high) +
                                           "): " + std::to_string(field) + " is used.");
        };
        // The quality slider runs from 30 to 100.
        clamp("OggOptions", "CompressPosition", Options.OggOptions.CompressPosition, 30, 100);
        // Ten sectors either way is more than any drive's offset.
        clamp("SecureOptions", "ReadOffset", Options.SecureOptions.ReadOffset, -5880, 5880);
        clamp("FlacOptions", "Level", Options.FlacOptions.Level, 0, 8);
        clamp("OpusOptions", "BitRate", Options.OpusOptions.BitRate, 6, 256);
        clamp("SecureOptions", "MinConfidence", Options.SecureOptions.MinConfidence, 1, 1000);
        clamp("JobOptions", "Encoders", Options.JobOptions.Encoders, 0, MaxEncoders);
    } else {
        ini.UpdateFile();
    }
}
