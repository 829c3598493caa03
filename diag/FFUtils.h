// diag/FFUtils.h — library error codes as text, and the small text helpers
// shared by the transcoder, the probing component and the preview.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
}

namespace tw {

/// The fixed English message of a library error code (a negative integer):
/// the system's table of 200 codes (negated error numbers, negated socket
/// error numbers, the libraries' tag codes), then the tag codes today's
/// libraries add (end of file, invalid data, ...), else
/// "Error number <code> occurred". Pure; any thread.
std::string ErrorMessage(int code);

/// subject + ": " + ErrorMessage(code). The subject is usually the file name
/// that failed or the name of the failing step. Pure; any thread.
std::string ErrorText(const std::string& subject, int code);

/// A time in microseconds as "HH:MM:SS.mmm" (hours not wrapped at 24, at
/// least two digits each, three for the milliseconds; a negative time keeps
/// its minus sign on every part); "N/A" for AV_NOPTS_VALUE. Pure; any thread.
std::string FormatTime(int64_t t);

/// The display name of a codec: "name(long name)" of the codec found for the
/// codec id (the encoder when encoder is true, else the decoder), the bare
/// name when its long name is blank; "mpeg2ts" for the transport-stream
/// pseudo codec; else the codec tag as "ABCD / 0x44434241" when its four
/// bytes are printable, or "0x1a2b" when not. Needs libavcodec bound for the
/// lookup (without it no codec is found). An empty text for a null context.
std::string CodecDescription(const AVCodecContext* context, bool encoder);
/// As above for stream parameters (what probing holds before any decoder
/// context exists).
std::string CodecDescription(const AVCodecParameters* parameters, bool encoder);

/// "Video", "Audio", "Data", "Subtitle", "Attachment" for the media types 0
/// to 4, "Unknown" for anything else. Pure; any thread.
std::string MediaTypeName(int mediaType);

/// The value of the first entry of dict whose key matches key (ignoring
/// case), or defaultValue when there is none, when dict is null or when
/// libavutil is not bound.
std::string MetadataValue(const AVDictionary* dict, const std::string& key,
                          const std::string& defaultValue);

}  // namespace tw
