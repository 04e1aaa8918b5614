#pragma once
// The drive library: drive list, drive handles, table of contents, address mode, raw audio sector
// reads, the library's last error, and the CDDB lookup. Every record is byte-packed and
// zero-filled by the caller before use; integers are 32-bit, texts zero-terminated 8-bit.
//
// Behind the operations are drives (akrip32Drives.h): the machine's CD drives through libcdio,
// then the disc images named in $SONVALE_DISC_IMAGES (':'-separated .cue/.toc/.nrg paths), each
// one more drive, at most 8 in all. Tests put scripted drives in their place.
//
// Every operation may be called from any thread; the library serialises them.

#include <atomic>
#include <string>
#include <cstddef>
#include <cstdint>
#include <memory>

using HCDROM = int32_t;  // drive handle; 0 is none

constexpr int MaxCDList = 8;
constexpr int CDSectorSize = 2352;   // bytes of audio per sector: 588 stereo 16-bit frames
constexpr int MaxTocEntries = 100;   // 99 tracks and the lead-out
// Between the last sector of one session and the first track of the next: the lead-out (6750
// sectors), the next session's lead-in (4500) and its first track's pregap (150).
constexpr int32_t SessionGapSectors = 11400;

#pragma pack(push, 1)

// One drive of the list: 121 bytes, of which the program uses the address and the two texts.
struct TCDRec {
    uint8_t HostAdapter;   // 0
    uint8_t Target;        // 1
    uint8_t Lun;           // 2
    uint8_t Reserved[66];  // 3..68
    char Vendor[9];        // 69..77, up to 8 characters, zero-terminated
    char ProductId[17];    // 78..94, up to 16 characters, zero-terminated
    uint8_t Info[26];      // 95..120
};

struct TCDList {
    uint8_t Max;           // capacity, set to 8 by the caller
    uint8_t Num;           // drives found
    TCDRec Cd[MaxCDList];
};

// Asks for a handle to the drive at an address taken from the list.
struct TGetCDHand {
    uint8_t Size;          // 12
    uint8_t Ver;           // 1
    uint8_t HostAdapter;
    uint8_t Target;
    uint8_t Lun;
    uint8_t Reserved[7];
};

// One entry of the table of contents, as a SCSI READ TOC track descriptor.
struct TTOCTrack {
    uint8_t Session;       // the session the track belongs to (1, 2...), as the full table of
                           // contents tells it; 0 when the drive cannot say
    uint8_t AdrCtrl;       // ADR in the high nibble; control bit 0x04 marks a data track
    uint8_t TrackNumber;   // 0xAA for the lead-out
    uint8_t Reserved2;
    uint8_t Addr[4];       // in MSF mode: 0, minute, second, frame (with the 2-second lead-in);
                           // otherwise the logical block address, big-endian
};

struct TTOC {
    uint16_t TocLen;
    uint8_t FirstTrack;
    uint8_t LastTrack;
    TTOCTrack Tracks[MaxTocEntries];  // from the first track in disc order, then the lead-out
};

// A read of count sectors: the 24-byte head, then the data area of BufLen bytes.
struct TTrackBuf {
    uint32_t StartFrame;   // logical block address of the first sector
    uint32_t NumFrames;    // sectors to read
    uint32_t MaxLen;       // capacity of the data area in bytes (NumFrames * 2352)
    uint32_t Len;          // bytes delivered
    uint32_t Status;       // not used
    int32_t StartOffset;   // where the delivered bytes begin in the data area
    uint8_t Buf[1];        // the data area; the record is allocated larger (NewTrackBuf)
};
constexpr std::size_t TrackBufHeadSize = 24;

// One CDDB match; the program only hands it back to CDDBGetDiskInfo.
struct TCDDBQueryItem {
    char Categ[12];
    char CddbId[9];
    char BExact;
    char Artist[85];
    char Title[85];
};

struct TCDDBQuery {
    int32_t Num;                  // capacity (10) on entry, matches found on return
    TCDDBQueryItem* Q;            // 10 match records
};

#pragma pack(pop)

static_assert(sizeof(TCDRec) == 121 && offsetof(TCDRec, Vendor) == 69 && offsetof(TCDRec, ProductId) == 78);
static_assert(sizeof(TCDList) == 970);
static_assert(sizeof(TGetCDHand) == 12);
static_assert(sizeof(TTOCTrack) == 8 && offsetof(TTOCTrack, Addr) == 4);
static_assert(sizeof(TTOC) == 804 && offsetof(TTOC, Tracks) == 4);
static_assert(offsetof(TTrackBuf, Buf) == TrackBufHeadSize);
static_assert(sizeof(TCDDBQueryItem) == 192);

// ModifyCDParms: the address mode of ReadTOC; value 1 = minute/second/frame.
constexpr int CDP_MSF = 36;

// CDDBSetOption numbers.
enum : int {
    CDDB_OPT_SERVER = 0,
    CDDB_OPT_PROXY = 1,
    CDDB_OPT_USEPROXY = 2,
    CDDB_OPT_AGENT = 3,
    CDDB_OPT_USER = 4,
    CDDB_OPT_PROXYPORT = 5,
    CDDB_OPT_CGI = 6,
    CDDB_OPT_HTTPPORT = 7,
    CDDB_OPT_USECDPLAYERINI = 8,
};

// Codes of GetAspiLibError.
enum : int32_t {
    ALERR_NOERROR = 0,
    ALERR_NODRIVE = 1,       // no such drive, or the handle is not open
    ALERR_NOHANDLE = 2,      // the drive cannot be opened, or every handle is in use
    ALERR_INVPARM = 3,       // a parameter or record the library cannot take
    ALERR_TOC = 4,           // the table of contents cannot be read
    ALERR_READ = 5,          // the sectors cannot be read
    ALERR_NOTIMPL = 6,       // not available in this build
    ALERR_CDDB_CONNECT = 7,  // the CDDB server cannot be reached, or did not answer in time
    ALERR_CDDB_REFUSED = 8,  // the CDDB server refused the request or sent no CDDB reply
    ALERR_CDDB_CANCELLED = 9,// the lookup was cancelled (CDDBSetCancelFlag)
};

// Fills the list (up to list->Max drives) and returns the count.
int32_t GetCDList(TCDList* list);
HCDROM GetCDHandle(const TGetCDHand* request);
int32_t CloseCDHandle(HCDROM handle);
int32_t ModifyCDParms(HCDROM handle, int32_t which, uint32_t value);
int32_t ReadTOC(HCDROM handle, TTOC* toc);
int32_t ReadCDAudioLBA(HCDROM handle, TTrackBuf* buffer);
// Not in the contract above: opens or closes the tray of the handle's drive (nothing for a disc
// image). 1 when done.
// The vendor and product of the drive a handle is open on, as the drive list names it ("" for
// no such handle).
std::string AkripDriveName(HCDROM handle);
int32_t AkripEject(HCDROM handle);
int32_t AkripCloseTray(HCDROM handle);
// The last error of the library on the calling thread.
int32_t GetAspiLibError();
// The library's CDDB calls (CDDBSetOption, CDDBQuery, CDDBGetDiskInfo) are in src/net
// (akrip32Cddb.h), with the network clients; they report through the same last error.
void AkripSetLastError(int32_t error);
// The table of contents of the disc a handle is open on, in MSF mode, without changing the
// handle's address mode. An ALERR code (ALERR_NOERROR when read).
int32_t AkripReadMsfToc(HCDROM handle, TTOC* toc);

// A read record with room for count sectors, zero-filled, with the head set for a read at lba.
class TTrackBufMemory {
public:
    TTrackBufMemory(uint32_t lba, uint32_t count);
    TTrackBuf* get() { return reinterpret_cast<TTrackBuf*>(m_bytes.get()); }
    const uint8_t* Delivered() { return get()->Buf + get()->StartOffset; }

private:
    struct Free { void operator()(uint8_t* p) const { delete[] p; } };
    std::unique_ptr<uint8_t[], Free> m_bytes;
};
