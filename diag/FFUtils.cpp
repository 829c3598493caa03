// diag/FFUtils.cpp — library error codes as text, and the small text helpers.
#include "diag/FFUtils.h"

#include <array>
#include <cstdio>
#include <utility>

#include "binding/Entries.h"

namespace tw {
namespace {

struct TErrorEntry {
    int Code;
    const char* Message;
};

// Negated error numbers, -1 to -131 (without -41 and -58). Some texts give
// the libraries' meaning of the number rather than the system's: -12 out of
// memory, -22 invalid data, -32 end of file, -33 missing number in a
// numbered file-name pattern, -42 unknown format.
constexpr TErrorEntry ErrnoTable[] = {
    {-1, "Operation not permitted"},
    {-2, "No such file or directory"},
    {-3, "No such process"},
    {-4, "Interrupted function call"},
    {-5, "I/O error"},
    {-6, "No such device or address"},
    {-7, "Argument list too long"},
    {-8, "Exec format error"},
    {-9, "Bad file number"},
    {-10, "No child processes"},
    {-11, "Resource temporarily unavailable / Try again"},
    {-12, "Not enough space / Out of memory"},
    {-13, "Permission denied"},
    {-14, "Bad address"},
    {-15, "Block device required"},
    {-16, "Device or resource busy"},
    {-17, "File exists"},
    {-18, "Cross-device link"},
    {-19, "No such device"},
    {-20, "Not a directory"},
    {-21, "Is a directory"},
    {-22, "Invalid argument / Invalid data found when processing input"},
    {-23, "Too many open files in system / File table overflow"},
    {-24, "Too many open files"},
    {-25, "Inappropriate I/O control operation / Not a typewriter"},
    {-26, "Text file busy"},
    {-27, "File too large"},
    {-28, "No space left on device"},
    {-29, "Illegal seek"},
    {-30, "Read-only file system"},
    {-31, "Too many links"},
    {-32, "End of file"},
    {-33, "Number syntax expected in filename"},
    {-34, "Math result not representable"},
    {-35, "Resource deadlock would occur"},
    {-36, "File name too long"},
    {-37, "No record locks available"},
    {-38, "Function not implemented"},
    {-39, "Directory not empty"},
    {-40, "Too many symbolic links encountered"},
    {-42, "Unknown format"},
    {-43, "Identifier removed"},
    {-44, "Channel number out of range"},
    {-45, "Level 2 not synchronized"},
    {-46, "Level 3 halted"},
    {-47, "Level 3 reset"},
    {-48, "Link number out of range"},
    {-49, "Protocol driver not attached"},
    {-50, "No CSI structure available"},
    {-51, "Level 2 halted"},
    {-52, "Invalid exchange"},
    {-53, "Invalid request descriptor"},
    {-54, "Exchange full"},
    {-55, "No anode"},
    {-56, "Invalid request code"},
    {-57, "Invalid slot"},
    {-59, "Bad font file format"},
    {-60, "Device not a stream"},
    {-61, "No data available"},
    {-62, "Timer expired"},
    {-63, "Out of streams resources"},
    {-64, "Machine is not on the network"},
    {-65, "Package not installed"},
    {-66, "Object is remote"},
    {-67, "Link has been severed"},
    {-68, "Advertise error"},
    {-69, "Srmount error"},
    {-70, "Communication error on send"},
    {-71, "Protocol error"},
    {-72, "Multihop attempted"},
    {-73, "RFS specific error"},
    {-74, "Not a data message"},
    {-75, "Value too large for defined data type"},
    {-76, "Name not unique on network"},
    {-77, "File descriptor in bad state"},
    {-78, "Remote address changed"},
    {-79, "Can not access a needed shared library"},
    {-80, "Accessing a corrupted shared library"},
    {-81, ".lib section in a.out corrupted"},
    {-82, "Attempting to link in too many shared libraries"},
    {-83, "Cannot exec a shared library directly"},
    {-84, "Illegal byte sequence"},
    {-85, "Interrupted system call should be restarted"},
    {-86, "Streams pipe error"},
    {-87, "Too many users"},
    {-88, "Socket operation on non-socket"},
    {-89, "Destination address required"},
    {-90, "Message too long"},
    {-91, "Protocol wrong type for socket"},
    {-92, "Protocol not available"},
    {-93, "Protocol not supported"},
    {-94, "Socket type not supported"},
    {-95, "Operation not supported on transport endpoint"},
    {-96, "Protocol family not supported"},
    {-97, "Address family not supported by protocol"},
    {-98, "Address already in use"},
    {-99, "Cannot assign requested address"},
    {-100, "Network is down"},
    {-101, "Network is unreachable"},
    {-102, "Network dropped connection because of reset"},
    {-103, "Software caused connection abort"},
    {-104, "Connection reset by peer"},
    {-105, "No buffer space available"},
    {-106, "Transport endpoint is already connected"},
    {-107, "Transport endpoint is not connected"},
    {-108, "Cannot send after transport endpoint shutdown"},
    {-109, "Too many references: cannot splice"},
    {-110, "Connection timed out"},
    {-111, "Connection refused"},
    {-112, "Host is down"},
    {-113, "No route to host"},
    {-114, "Operation already in progress"},
    {-115, "Operation now in progress"},
    {-116, "Stale NFS file handle"},
    {-117, "Structure needs cleaning"},
    {-118, "Not a XENIX named type file"},
    {-119, "No XENIX semaphores available"},
    {-120, "Is a named type file"},
    {-121, "Remote I/O error"},
    {-122, "Quota exceeded"},
    {-123, "No medium found"},
    {-124, "Wrong medium type"},
    {-125, "Operation Canceled"},
    {-126, "Required key not available"},
    {-127, "Key has expired"},
    {-128, "Key has been revoked"},
    {-129, "Key was rejected by service"},
    {-130, "Owner died"},
    {-131, "State not recoverable"},
};

// Negated Windows socket error numbers that share the meaning (and so the
// text) of a negated error number above: {socket code, error number code}.
constexpr std::pair<int, int> SocketAliasTable[] = {
    {-10004, -4},   {-10009, -9},   {-10013, -13},  {-10014, -14},  {-10022, -22},  {-10024, -24},
    {-10036, -115}, {-10037, -114}, {-10038, -88},  {-10039, -89},  {-10040, -90},  {-10041, -91},
    {-10042, -92},  {-10043, -93},  {-10044, -94},  {-10045, -95},  {-10046, -96},  {-10047, -97},
    {-10048, -98},  {-10049, -99},  {-10050, -100}, {-10051, -101}, {-10052, -102}, {-10053, -103},
    {-10054, -104}, {-10055, -105}, {-10056, -106}, {-10057, -107}, {-10058, -108}, {-10059, -109},
    {-10060, -110}, {-10061, -111}, {-10062, -40},  {-10063, -36},  {-10064, -112}, {-10065, -113},
    {-10066, -39},  {-10068, -87},  {-10069, -122}, {-10070, -116}, {-10071, -66},
};

// Negated Windows socket error numbers without such an equivalent: the text
// is the socket error's own symbol.
constexpr TErrorEntry SocketTable[] = {
    {-10035, "WSAEWOULDBLOCK"},
    {-10067, "WSAEPROCLIM"},
    {-10091, "WSASYSNOTREADY"},
    {-10092, "WSAVERNOTSUPPORTED"},
    {-10093, "WSANOTINITIALISED"},
    {-10101, "WSAEDISCON"},
    {-10102, "WSAENOMORE"},
    {-10103, "WSAECANCELLED"},
    {-10104, "WSAEINVALIDPROCTABLE"},
    {-10105, "WSAEINVALIDPROVIDER"},
    {-10106, "WSAEPROVIDERFAILEDINIT"},
    {-10107, "WSASYSCALLFAILURE"},
    {-10108, "WSASERVICE_NOT_FOUND"},
    {-10109, "WSATYPE_NOT_FOUND"},
    {-10110, "WSA_E_NO_MORE"},
    {-10111, "WSA_E_CANCELLED"},
    {-10112, "WSAEREFUSED"},
    {-11001, "WSAHOST_NOT_FOUND"},
    {-11002, "WSATRY_AGAIN"},
    {-11003, "WSANO_RECOVERY"},
    {-11004, "WSANO_DATA"},
};

// The libraries' tag codes: four bytes read little-endian, negated.
constexpr TErrorEntry TagTable[] = {
    {-1128613112, "Decoder not found"},
    {-1129203192, "Encoder not found"},
    {-1179861752, "Bitstream filter not found"},
    {-1279870712, "Filter not found"},
    {-1296385272, "Demuxer not found"},
    {-1330794744, "Protocol not found"},
    {-1381258232, "Stream not found"},
    {-1481985528, "Muxer not found"},
    {-1163346256, "Not yet implemented in FFmpeg"},
};
static_assert(AVERROR_DECODER_NOT_FOUND == -1128613112);
static_assert(AVERROR_ENCODER_NOT_FOUND == -1129203192);
static_assert(AVERROR_BSF_NOT_FOUND == -1179861752);
static_assert(AVERROR_FILTER_NOT_FOUND == -1279870712);
static_assert(AVERROR_DEMUXER_NOT_FOUND == -1296385272);
static_assert(AVERROR_PROTOCOL_NOT_FOUND == -1330794744);
static_assert(AVERROR_STREAM_NOT_FOUND == -1381258232);
static_assert(AVERROR_MUXER_NOT_FOUND == -1481985528);
static_assert(AVERROR_PATCHWELCOME == -1163346256);

// Tag codes the libraries return today for conditions the table above knows
// only as negated error numbers (end of file is no longer -32, invalid data
// no longer -22), and the ones they have added since. Looked up after the
// table above, so without them an ordinary end of file would read
// "Error number -541478725 occurred".
constexpr TErrorEntry CurrentTagTable[] = {
    {AVERROR_EOF, "End of file"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_EXIT, "Immediate exit requested"},
    {AVERROR_BUG, "Internal bug"},
    {AVERROR_BUG2, "Internal bug"},
    {AVERROR_BUFFER_TOO_SMALL, "Buffer too small"},
    {AVERROR_OPTION_NOT_FOUND, "Option not found"},
    {AVERROR_EXTERNAL, "Error in an external library"},
    {AVERROR_UNKNOWN, "Unknown error"},
    {AVERROR_EXPERIMENTAL, "Feature is experimental"},
    {AVERROR_INPUT_CHANGED, "Input changed"},
    {AVERROR_OUTPUT_CHANGED, "Output changed"},
    {AVERROR_HTTP_BAD_REQUEST, "HTTP 400 Bad Request"},
    {AVERROR_HTTP_UNAUTHORIZED, "HTTP 401 Unauthorized"},
    {AVERROR_HTTP_FORBIDDEN, "HTTP 403 Forbidden"},
    {AVERROR_HTTP_NOT_FOUND, "HTTP 404 Not Found"},
    {AVERROR_HTTP_OTHER_4XX, "HTTP client error"},
    {AVERROR_HTTP_SERVER_ERROR, "HTTP server error"},
};

template <std::size_t N>
const char* Find(const TErrorEntry (&table)[N], int code) {
    for (const TErrorEntry& e : table) {
        if (e.Code == code) return e.Message;
    }
    return nullptr;
}

// The message of a code of the 200-code table, or null.
const char* FindInTable(int code) {
    if (const char* m = Find(ErrnoTable, code)) return m;
    for (const auto& [socketCode, errnoCode] : SocketAliasTable) {
        if (socketCode == code) return Find(ErrnoTable, errnoCode);
    }
    if (const char* m = Find(SocketTable, code)) return m;
    return Find(TagTable, code);
}

// Removes control characters and blanks at both ends.
std::string Trim(const char* text) {
    std::string s = text ? text : "";
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ') --end;
    return s.substr(begin, end - begin);
}

std::string Describe(AVCodecID id, unsigned tag, bool encoder) {
    auto find = encoder ? lib().avcodec_find_encoder : lib().avcodec_find_decoder;
    if (const AVCodec* codec = find ? find(id) : nullptr) {
        std::string name = codec->name ? codec->name : "";
        std::string longName = Trim(codec->long_name);
        return longName.empty() ? name : name + "(" + longName + ")";
    }
    static_assert(AV_CODEC_ID_MPEG2TS == 0x20000);
    if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
    // The step that took the context's own codec name is gone: today's codec
    // context has no codec_name field, so the tag is next.
    char text[32];
    const unsigned char bytes[4] = {static_cast<unsigned char>(tag & 0xFF),
                                    static_cast<unsigned char>((tag >> 8) & 0xFF),
                                    static_cast<unsigned char>((tag >> 16) & 0xFF),
                                    static_cast<unsigned char>((tag >> 24) & 0xFF)};
    bool printable = true;
    for (unsigned char b : bytes) printable = printable && b >= 32 && b <= 126;
    if (printable) {
        std::snprintf(text, sizeof text, "%c%c%c%c / 0x%04X", bytes[0], bytes[1], bytes[2],
                      bytes[3], tag);
    } else {
        std::snprintf(text, sizeof text, "0x%04x", tag);
    }
    return text;
}

}  // namespace

std::string ErrorMessage(int code) {
    if (const char* m = FindInTable(code)) return m;
    if (const char* m = Find(CurrentTagTable, code)) return m;
    return "Error number " + std::to_string(code) + " occurred";
}

std::string ErrorText(const std::string& subject, int code) {
    return subject + ": " + ErrorMessage(code);
}

std::string FormatTime(int64_t t) {
    if (t == AV_NOPTS_VALUE) return "N/A";
    // C++ division truncates toward zero and the remainder takes the sign of
    // t, so a negative time prints a minus sign on every part.
    const long long hours = t / 1000000 / 60 / 60;
    const long long minutes = (t / 1000000 / 60) % 60;
    const long long seconds = (t / 1000000) % 60;
    const long long millis = ((t % 1000000) * 1000) / 1000000;
    char text[96];
    std::snprintf(text, sizeof text, "%.2lld:%.2lld:%.2lld.%.3lld", hours, minutes, seconds,
                  millis);
    return text;
}

std::string CodecDescription(const AVCodecContext* context, bool encoder) {
    if (!context) return {};
    return Describe(context->codec_id, context->codec_tag, encoder);
}

std::string CodecDescription(const AVCodecParameters* parameters, bool encoder) {
    if (!parameters) return {};
    return Describe(parameters->codec_id, parameters->codec_tag, encoder);
}

std::string MediaTypeName(int mediaType) {
    switch (mediaType) {
        case 0:
            return "Video";
        case 1:
            return "Audio";
        case 2:
            return "Data";
        case 3:
            return "Subtitle";
        case 4:
            return "Attachment";
        default:
            return "Unknown";
    }
}

std::string MetadataValue(const AVDictionary* dict, const std::string& key,
                          const std::string& defaultValue) {
    if (!dict || !lib().av_dict_get) return defaultValue;
    const AVDictionaryEntry* entry = lib().av_dict_get(dict, key.c_str(), nullptr, 0);
    return entry && entry->value ? entry->value : defaultValue;
}

}  // namespace tw
