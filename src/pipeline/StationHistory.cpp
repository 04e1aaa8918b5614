#include "StationHistory.h"

#include "FileSystem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string S(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString().toStdString();
}

QJsonObject ToJson(const TStationDisc& d)
{
    QJsonArray formats, tracks;
    for (const std::string& f : d.Formats)
        formats.append(Q(f));
    for (const TStationTrack& t : d.Tracks)
        tracks.append(QJsonObject{{"number", t.Number}, {"result", Q(t.Result)}, {"accuraterip", Q(t.AccurateRip)},
                                  {"ctdb", Q(t.Ctdb)}});
    return {{"id", Q(d.Id)},       {"musicbrainz_id", Q(d.MusicBrainzId)}, {"ctdb_id", Q(d.CtdbId)},
            {"accuraterip_id", Q(d.AccurateRipId)}, {"drive", Q(d.Drive)}, {"artist", Q(d.Artist)},
            {"album", Q(d.Album)}, {"release", Q(d.Release)}, {"folder", Q(d.Folder)},
            {"formats", formats},  {"log", Q(d.Log)},   {"cue", Q(d.Cue)},  {"result", Q(d.Result)},
            {"note", Q(d.Note)},   {"start", Q(d.Start)}, {"end", Q(d.End)}, {"tracks", tracks}};
}

TStationDisc FromJson(const QJsonObject& o)
{
    TStationDisc d;
    d.Id = S(o, "id");
    d.MusicBrainzId = S(o, "musicbrainz_id");
    d.CtdbId = S(o, "ctdb_id");
    d.AccurateRipId = S(o, "accuraterip_id");
    d.Drive = S(o, "drive");
    d.Artist = S(o, "artist");
    d.Album = S(o, "album");
    d.Release = S(o, "release");
    d.Folder = S(o, "folder");
    for (const QJsonValue f : o.value(QLatin1String("formats")).toArray())
        d.Formats.push_back(f.toString().toStdString());
    d.Log = S(o, "log");
    d.Cue = S(o, "cue");
    d.Result = S(o, "result");
    d.Note = S(o, "note");
    d.Start = S(o, "start");
    d.End = S(o, "end");
    for (const QJsonValue v : o.value(QLatin1String("tracks")).toArray()) {
        const QJsonObject t = v.toObject();
        d.Tracks.push_back({t.value(QLatin1String("number")).toInt(), S(t, "result"), S(t, "accuraterip"), S(t, "ctdb")});
    }
    return d;
}

}  // namespace

TStationHistory::TStationHistory(std::string path)
    : m_path(std::move(path))
{
}

std::optional<std::vector<TStationDisc>> TStationHistory::Parse(const std::string& text)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() || !doc.object().value(QLatin1String("discs")).isArray())
        return std::nullopt;
    std::vector<TStationDisc> discs;
    for (const QJsonValue v : doc.object().value(QLatin1String("discs")).toArray()) {
        if (!v.isObject())
            return std::nullopt;
        discs.push_back(FromJson(v.toObject()));
    }
    return discs;
}

bool TStationHistory::Load(std::string& error)
{
    m_discs.clear();
    m_nextId = 1;
    std::ifstream in(m_path, std::ios::binary);
    if (!in)
        return true;  // no history yet
    std::ostringstream text;
    text << in.rdbuf();
    std::optional<std::vector<TStationDisc>> discs = Parse(text.str());
    if (!discs) {
        // Not lost: kept aside for the user, and a new history begins.
        std::error_code ec;
        std::filesystem::rename(m_path, m_path + ".bad", ec);
        error = m_path + " is not a station history: kept as " + m_path + ".bad, and a new one begun.";
        return false;
    }
    m_discs = std::move(*discs);
    for (const TStationDisc& d : m_discs)
        m_nextId = std::max(m_nextId, std::atoi(d.Id.c_str()) + 1);
    return true;
}

std::string TStationHistory::Text() const
{
    QJsonArray discs;
    for (const TStationDisc& d : m_discs)
        discs.append(ToJson(d));
    return QJsonDocument(QJsonObject{{"discs", discs}}).toJson(QJsonDocument::Indented).toStdString();
}

bool TStationHistory::Save(std::string& error) const
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path(), ec);
    if (!WriteFileWhole(m_path, Text())) {
        error = "Cannot write the station's history " + m_path + ".";
        return false;
    }
    return true;
}

std::size_t TStationHistory::Add(TStationDisc disc)
{
    disc.Id = std::to_string(m_nextId++);
    m_discs.push_back(std::move(disc));
    return m_discs.size() - 1;
}

const TStationDisc* TStationHistory::RippedBefore(const std::string& musicBrainzId, const std::string& ctdbId,
                                                   const std::string& accurateRipId) const
{
    const auto same = [](const std::string& a, const std::string& b) { return !a.empty() && a == b; };
    for (const TStationDisc& d : m_discs)
        if ((d.Result == "ripped" || d.Result == "ripped with errors") &&
            (same(d.MusicBrainzId, musicBrainzId) || same(d.CtdbId, ctdbId) || same(d.AccurateRipId, accurateRipId)))
            return &d;
    return nullptr;
}

std::string DefaultStationHistoryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString() + "/sonvale/station.json";
}
