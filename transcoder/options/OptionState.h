// transcoder/options/OptionState.h — the option fields of the transcoder engine and the
// per-file tables the file openers fill.
//
// Every option of the engine changes one of these fields; the file openers
// read them when they run and consume some of them afterwards. All fields are
// touched on the configuring thread only, while the engine is idle.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

#include "binding/LibPtr.h"
#include "transcoder/options/OptionContexts.h"

namespace tw {

/// An owned metadata dictionary (empty = no dictionary allocated yet).
/// Needs libavutil bound for every call that touches a non-empty dictionary.
class TDictionary {
  public:
    TDictionary() = default;
    ~TDictionary();
    TDictionary(TDictionary&& other) noexcept : FDict(other.FDict) { other.FDict = nullptr; }
    TDictionary& operator=(TDictionary&& other) noexcept;
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;

    /// Sets key to value, replacing an entry of the same key. Throws
    /// FFmpegException "Could not set metadata \"<key>\"" when the library refuses.
    void Set(const std::string& key, const std::string& value);
    /// The value of key, or nullopt.
    std::optional<std::string> Get(const std::string& key) const;
    /// Number of entries.
    int Count() const;
    /// The dictionary itself (nullptr when empty); ownership stays here.
    AVDictionary* Get() const { return FDict; }
    /// Hands the dictionary to the caller, who then owns it; this one is empty.
    AVDictionary* Release();
    /// Frees every entry.
    void Clear();

  private:
    AVDictionary* FDict = nullptr;
};

/// A chain of bitstream filters applied in order to the packets of one output
/// stream. The filters are allocated (by name) but not initialised: their
/// input parameters are known only once the stream exists.
struct TBitstreamFilterChain {
    std::vector<BsfContextPtr> Filters;
    bool Empty() const { return Filters.empty(); }
    int Count() const { return static_cast<int>(Filters.size()); }
};

/// One "map" entry.
struct TStreamMap {
    int File = 0;
    int Stream = 0;
    int SyncFile = 0;
    int SyncStream = 0;
};

/// One side of a "map_meta_data" entry: file index, kind letter ('g' global,
/// 's' stream, 'c' chapter, 'p' program) and index within that kind.
struct TMetadataMapSide {
    int File = 0;
    char Kind = 'g';
    int Index = 0;
};

/// One "map_meta_data" entry: the output side first, the input side second.
struct TMetadataMap {
    TMetadataMapSide Out;
    TMetadataMapSide In;
};

/// One "map_chapters" entry.
struct TChapterMap {
    int InFile = 0;
    int OutFile = 0;
};

/// A frame hook as parsed from a "vhook" value: the module first, then its
/// arguments. The modules are loaded when the video output is set up.
using TFrameHookArgs = std::vector<std::string>;

/// 64 quantiser matrix coefficients.
using TMatrix = std::array<uint16_t, 64>;

/// Index into MaxFrames.
enum TMaxFramesIndex { mfVideo = 0, mfAudio = 1, mfData = 2, mfSubtitle = 3 };

/// The option fields with their defaults. A default-constructed value is the
/// state after ResetOptions. Texts documented "none" are empty when unset.
struct TOptionState {
    // --- mapping lists
    std::vector<TStreamMap> StreamMaps;
    std::vector<TMetadataMap> MetadataMaps;
    std::vector<TChapterMap> ChapterMaps;
    /// Container stream id per output stream index (0 = not set).
    std::vector<int> StreamIdMap;
    int StreamMapCount() const { return static_cast<int>(StreamMaps.size()); }
    int MetadataMapCount() const { return static_cast<int>(MetadataMaps.size()); }
    int ChapterMapCount() const { return static_cast<int>(ChapterMaps.size()); }
    int StreamIdMapCount() const { return static_cast<int>(StreamIdMap.size()); }

    /// Cleared by a metadata map naming kind 'g', 's' or 'c' on either side.
    bool MetadataGlobalAutocopy = true;
    bool MetadataStreamsAutocopy = true;
    bool MetadataChaptersAutocopy = true;

    // --- video
    /// Consumed and cleared by the next file opener of either kind.
    std::string ForcedFormatName;
    int FrameWidth = 0;
    int FrameHeight = 0;
    float FrameAspectRatio = 0;
    /// AVPixelFormat, -1 = none.
    int FramePixFmt = -1;
    /// AVSampleFormat, -1 = none.
    int AudioSampleFmt = -1;
    /// Indexed by TMaxFramesIndex.
    std::array<int, 4> MaxFrames{INT_MAX, INT_MAX, INT_MAX, INT_MAX};
    AVRational FrameRate{25, 0};
    /// 0 = none.
    float VideoQscale = 0;
    std::optional<TMatrix> IntraMatrix;
    std::optional<TMatrix> InterMatrix;
    std::string VideoRcOverride;
    bool VideoDisable = false;
    /// AVDiscard value.
    int VideoDiscard = 0;
    std::string VideoCodecName;
    bool VideoStreamCopy = false;
    uint32_t VideoCodecTag = 0;
    std::string VideoLanguage;
    bool SameQuality = false;
    bool Deinterlace = false;
    /// -1 = keep the source's field order.
    int TopFieldFirst = -1;
    int MeThreshold = 0;
    int IntraDcPrecision = 8;
    bool LoopInput = false;
    /// -1 = no loop.
    int LoopOutput = -1;
    bool QpHistogram = false;
    std::string VideoFilters;
    bool UseVideoFilters = false;
    bool IntraOnly = false;
    int VideoChannel = 0;
    std::string VideoStandard;
    bool ForceFps = false;
    std::string ForcedKeyFrames;
    /// Bit 1: global header, bit 2: local header.
    int VideoGlobalHeader = 0;
    TBitstreamFilterChain VideoBitstreamFilters;
    bool UsingFrameHooks = false;
    std::vector<TFrameHookArgs> FrameHooks;

    // --- audio and subtitle
    int AudioSampleRate = 44100;
    int64_t ChannelLayout = 0;
    /// -99999 = none.
    float AudioQscale = -99999;
    bool AudioDisable = false;
    int AudioChannels = 2;
    std::string AudioCodecName;
    bool AudioStreamCopy = false;
    uint32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    /// 256 = unchanged.
    int AudioVolume = 256;
    int AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.1f;
    TBitstreamFilterChain AudioBitstreamFilters;
    bool SubtitleDisable = false;
    std::string SubtitleCodecName;
    bool SubtitleStreamCopy = false;
    uint32_t SubtitleCodecTag = 0;
    std::string SubtitleLanguage;
    TBitstreamFilterChain SubtitleBitstreamFilters;

    // --- timing, muxing and run
    /// Microseconds; INT64_MAX = no limit.
    int64_t RecordingTime = INT64_MAX;
    /// Microseconds; consumed by the next input file.
    int64_t StartTime = 0;
    /// Seconds since 1970.
    int64_t RecordingTimestamp = 0;
    /// Microseconds; applies to every input opened afterwards.
    int64_t InputTsOffset = 0;
    /// Bytes; 0 = none.
    int64_t FileSizeLimit = 0;
    /// Moved into the next output file.
    TDictionary Metadata;
    /// Seconds.
    float MuxPreload = 0.5f;
    /// Seconds.
    float MuxMaxDelay = 0.7f;
    /// -1 = automatic.
    int VideoSyncMethod = -1;
    bool CopyTs = false;
    bool CopyTb = false;
    bool Shortest = false;
    /// Seconds.
    float DtsDeltaThreshold = 10;
    /// 0 = all programs; consumed by the next input file.
    int ProgramId = 0;
    int CopyInitialNonKeyframes = 0;
    bool RateEmulation = false;
    bool InputSync = false;
    bool ExitOnError = false;
    bool HexDump = false;
    bool PacketDump = false;
    bool DoPsnr = false;
    /// 0, 1 or 2.
    int PassNumber = 0;
    std::string PassLogFilePrefix;
    std::string VstatsFileName;
    int Verbose = 1;
    int ThreadCount = 1;
    /// Scaler flags the scaler option context is created with (SWS_BICUBIC).
    int SwsFlags = 4;
};

/// The output-stream record of the run; defined with the run's working records.
struct TOutputStream;

/// How an input that was closed after it was probed is opened again exactly
/// as it was first opened (see TFileSet::InputReader).
struct TInputReopen {
    /// The name as given, for messages, and as handed to the library.
    std::string FileName;
    std::string LibraryName;
    /// Forced format, or none.
    const AVInputFormat* Format = nullptr;
    /// An unopened context carrying the generic options, flags and forced
    /// decoders the first open was given.
    FormatContextPtr Settings;
    /// The demuxer options of the first open.
    DictionaryPtr OpenParameters;
    /// Read through our own I/O (OpenLibraryIO).
    bool OwnReader = false;
    /// Where the first open sought to after the analysis (µs), or none.
    int64_t SeekTo = AV_NOPTS_VALUE;
};

/// The per-file tables, each with MaxFiles entries from construction on. They
/// are not option fields: ResetOptions leaves them alone; CloseFiles empties them.
struct TFileTables {
    /// maxFiles entries per table; the engine checks the capacity first.
    explicit TFileTables(int maxFiles);

    /// Opened input files in opening order; entries InputFileCount.. are empty.
    /// An input with an InputReopens entry is here only as a description
    /// (InputDescriptionMark): what was probed, no demuxer; its packets come
    /// from its entry of InputReaders.
    std::vector<InputFormatPtr> InputFiles;
    /// Per input: how to open it again when it was closed after probing
    /// (null: InputFiles holds the open input itself).
    std::vector<std::unique_ptr<TInputReopen>> InputReopens;
    /// Per input with an InputReopens entry: the demuxer it is read from while
    /// the run reads it (null while closed).
    std::vector<InputFormatPtr> InputReaders;
    int InputFileCount = 0;
    /// Offset added to every timestamp of that input, microseconds.
    std::vector<int64_t> InputTsOffsets;
    /// Per input, per-stream timestamp scale factors (0 = no scaling).
    std::vector<std::vector<double>> InputTsScales;
    int InputTsScaleCount(int file) const {
        return static_cast<int>(InputTsScales.at(file).size());
    }
    /// Decoder forced by name for each input stream, all inputs in order
    /// (nullptr = choose by codec id).
    std::vector<const AVCodec*> InputCodecs;
    int InputCodecCount() const { return static_cast<int>(InputCodecs.size()); }
    /// Per input, one decoder context per stream, built from the stream's
    /// parameters when the file is opened (streams carry none of their own).
    std::vector<std::vector<CodecContextPtr>> InputDecoders;

    /// Output slots. In join mode several slots share one context, so the
    /// slots share ownership; the output opener installs the deleter that
    /// closes the file.
    std::vector<std::shared_ptr<AVFormatContext>> OutputFiles;
    int OutputFileCount = 0;
    /// Encoder chosen by name for each created output stream (nullptr = by id).
    std::vector<const AVCodec*> OutputCodecs;
    int OutputCodecCount() const { return static_cast<int>(OutputCodecs.size()); }
    /// Per output slot, one record per stream. Records may be shared by slots.
    std::vector<std::vector<std::shared_ptr<TOutputStream>>> OutputStreams;
    int OutputStreamCount(int slot) const {
        return static_cast<int>(OutputStreams.at(slot).size());
    }
};

}  // namespace tw
