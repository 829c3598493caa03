// transcoder/options/OptionState.cpp — owned library objects of the option state.
#include "transcoder/options/OptionState.h"

#include "binding/Entries.h"
#include "binding/UnicodeProtocol.h"
#include "transcoder/FFmpegException.h"

namespace tw {

TDictionary::~TDictionary() { Clear(); }

TDictionary& TDictionary::operator=(TDictionary&& other) noexcept {
    if (this != &other) {
        Clear();
        FDict = other.FDict;
        other.FDict = nullptr;
    }
    return *this;
}

void TDictionary::Set(const std::string& key, const std::string& value) {
    if (lib().av_dict_set(&FDict, key.c_str(), value.c_str(), 0) < 0)
        throw FFmpegException("Could not set metadata \"" + key + "\"");
}

std::optional<std::string> TDictionary::Get(const std::string& key) const {
    if (!FDict) return std::nullopt;
    const AVDictionaryEntry* e = lib().av_dict_get(FDict, key.c_str(), nullptr, 0);
    if (!e) return std::nullopt;
    return std::string(e->value);
}

int TDictionary::Count() const { return FDict ? lib().av_dict_count(FDict) : 0; }

AVDictionary* TDictionary::Release() {
    AVDictionary* d = FDict;
    FDict = nullptr;
    return d;
}

void TDictionary::Clear() {
    // An empty dictionary needs no library call, so default-constructed state
    // can be destroyed after the libraries are gone.
    if (FDict) lib().av_dict_free(&FDict);
}

TFileTables::TFileTables(int maxFiles)
    : InputFiles(maxFiles),
      InputReopens(maxFiles),
      InputReaders(maxFiles),
      InputTsOffsets(maxFiles, 0),
      InputTsScales(maxFiles),
      InputDecoders(maxFiles),
      OutputFiles(maxFiles),
      OutputStreams(maxFiles) {}

}  // namespace tw
