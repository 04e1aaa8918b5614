#include "GlobalTables.h"

#include <algorithm>

const std::array<TGenreName, GenreCount> GenreNames = {{
    {"A Cappella", 123}, {"Acid", 34}, {"Acid Jazz", 74}, {"Acid Punk", 73}, {"Acoustic", 99},
    {"Alt. Rock", 40}, {"Alternative", 20}, {"Ambient", 26}, {"Anime", 145}, {"Avantgarde", 90},
    {"Ballad", 116}, {"Bass", 41}, {"Beat", 135}, {"Bebob", 85}, {"Big Band", 96},
    {"Black Metal", 138}, {"Bluegrass", 89}, {"Blues", 0}, {"Booty Bass", 107}, {"BritPop", 132},
    {"Cabaret", 65}, {"Celtic", 88}, {"Chamber Music", 104}, {"Chanson", 102}, {"Chorus", 97},
    {"Christian Gangsta", 136}, {"Christian Rap", 61}, {"Christian Rock", 141}, {"Classic Rock", 1},
    {"Classical", 32}, {"Club", 112}, {"Club-House", 128}, {"Comedy", 57},
    {"Contemporary Christian", 140}, {"Country", 2}, {"Crossover", 139}, {"Cult", 58}, {"Dance", 3},
    {"Dance Hall", 125}, {"Darkwave", 50}, {"Death Metal", 22}, {"Disco", 4}, {"Dream", 55},
    {"Drum & Base", 127}, {"Drum Solo", 122}, {"Duet", 120}, {"Easy Listening", 98},
    {"Electronic", 52}, {"Ethnic", 48}, {"Eurodance", 54}, {"Euro-House", 124}, {"Euro-Techno", 25},
    {"Fast-Fusion", 84}, {"Folk", 80}, {"Folk/Rock", 81}, {"Folklore", 115}, {"Freestyle", 119},
    {"Funk", 5}, {"Fusion", 30}, {"Game", 36}, {"Gangsta Rap", 59}, {"Goa", 126}, {"Gospel", 38},
    {"Gothic", 49}, {"Gothic Rock", 91}, {"Grunge", 6}, {"Hard Rock", 79}, {"Hardcore", 129},
    {"Heavy Metal", 137}, {"Hip-Hop", 7}, {"House", 35}, {"Humour", 100}, {"Indie", 131},
    {"Industrial", 19}, {"Instrumental", 33}, {"Instrumental Pop", 46}, {"Instrumental Rock", 47},
    {"Jazz", 8}, {"Jazz+Funk", 29}, {"JPop", 146}, {"Jungle", 63}, {"Latin", 86}, {"Lo-Fi", 71},
    {"Meditative", 45}, {"Merengue", 142}, {"Metal", 9}, {"Musical", 77}, {"National Folk", 82},
    {"Native American", 64}, {"Negerpunk", 133}, {"New Age", 10}, {"New Wave", 66}, {"Noise", 39},
    {"Oldies", 11}, {"Opera", 103}, {"Other", 12}, {"Polka", 75}, {"Polsk Punk", 134}, {"Pop", 13},
    {"Pop/Funk", 62}, {"Pop-Folk", 53}, {"Porn Groove", 109}, {"Power Ballad", 117}, {"Pranks", 23},
    {"Primus", 108}, {"Progressive Rock", 92}, {"Psychedelic", 67}, {"Psychedelic Rock", 93},
    {"Punk", 43}, {"Punk Rock", 121}, {"R&B", 14}, {"Rap", 15}, {"Rave", 68}, {"Reggae", 16},
    {"Retro", 76}, {"Revival", 87}, {"Rhythmic Soul", 118}, {"Rock", 17}, {"Rock & Roll", 78},
    {"Salsa", 143}, {"Samba", 114}, {"Satire", 110}, {"Showtunes", 69}, {"Ska", 21},
    {"Slow Jam", 111}, {"Slow Rock", 95}, {"Sonata", 105}, {"Soul", 42}, {"Sound Clip", 37},
    {"Soundtrack", 24}, {"Southern Rock", 56}, {"Space", 44}, {"Speech", 101}, {"Swing", 83},
    {"Symphonic Rock", 94}, {"Symphony", 106}, {"Synthpop", 147}, {"Tango", 113}, {"Techno", 18},
    {"Techno-Industrial", 51}, {"Terror", 130}, {"Thrash Metal", 144}, {"Top 40", 60},
    {"Trailer", 70}, {"Trance", 31}, {"Tribal", 72}, {"Trip-Hop", 27}, {"Vocal", 28},
}};

int GenreIndexOf(std::string_view name)
{
    const auto found = std::find_if(GenreNames.begin(), GenreNames.end(),
                                    [&](const TGenreName& g) { return name == g.Name; });
    return found == GenreNames.end() ? -1 : static_cast<int>(found - GenreNames.begin());
}

const std::array<TWMAProfile, WMAProfileCount> WMAProfiles = {{
    {"192_48_2", "48.000 kHz, 192 kbit/s, Stereo"},
    {"160_48_2", "48.000 kHz, 160 kbit/s, Stereo"},
    {"128_48_2", "48.000 kHz, 128 kbit/s, Stereo"},
    {"192_44_2", "44.100 kHz, 192 kbit/s, Stereo"},
    {"160_44_2", "44.100 kHz, 160 kbit/s, Stereo"},
    {"128_44_2", "44.100 kHz, 128 kbit/s, Stereo"},
    {"96_44_2", "44.100 kHz,  96 kbit/s, Stereo"},
    {"80_44_2", "44.100 kHz,  80 kbit/s, Stereo"},
    {"64_44_2", "44.100 kHz,  64 kbit/s, Stereo"},
    {"48_44_2", "44.100 kHz,  48 kbit/s, Stereo"},
    {"32_44_2", "44.100 kHz,  32 kbit/s, Stereo"},
    {"48_44_1", "44.100 kHz,  48 kbit/s, Mono"},
    {"32_44_1", "44.100 kHz,  32 kbit/s, Mono"},
    {"48_32_2", "32.000 kHz,  48 kbit/s, Stereo"},
    {"40_32_2", "32.000 kHz,  40 kbit/s, Stereo"},
    {"32_32_2", "32.000 kHz,  32 kbit/s, Stereo"},
    {"20_32_1", "32.000 kHz,  20 kbit/s, Mono"},
    {"32_22_2", "22.050 kHz,  32 kbit/s, Stereo"},
    {"22_22_2", "22.050 kHz,  22 kbit/s, Stereo"},
    {"20_22_2", "22.050 kHz,  20 kbit/s, Stereo"},
    {"20_22_1", "22.050 kHz,  20 kbit/s, Mono"},
    {"16_22_1", "22.050 kHz,  16 kbit/s, Mono"},
    {"20_16_2", "16.000 kHz,  20 kbit/s, Stereo"},
    {"16_16_2", "16.000 kHz,  16 kbit/s, Stereo"},
    {"16_16_1", "16.000 kHz,  16 kbit/s, Mono"},
    {"12_16_1", "16.000 kHz,  12 kbit/s, Mono"},
    {"10_16_1", "16.000 kHz,  10 kbit/s, Mono"},
    {"10_11_1", "11.025 kHz,  10 kbit/s, Mono"},
    {"8_11_1", "11.025 kHz,   8 kbit/s, Mono"},
    {"12_8_2", " 8.000 kHz,  12 kbit/s, Stereo"},
    {"8_8_1", " 8.000 kHz,   8 kbit/s, Mono"},
    {"6_8_1", " 8.000 kHz,   6 kbit/s, Mono"},
    {"5_8_1", " 8.000 kHz,   5 kbit/s, Mono"},
}};

const std::array<int32_t, WMAProfileCount> WMASizeRatios = {
    7315,  8770,  10949, 7316,  8772,  10954, 14581,  17471,  21790,  28963,  43174,
    28963, 43134, 28999, 34720, 43214, 68873, 43134,  62208,  68264,  68264,  84458,
    67963, 84150, 84150, 110460, 131113, 133765, 165296, 113717, 167692, 220395, 261485,
};
