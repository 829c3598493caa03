// app/OutputContainer.cpp — the container an output name asks for.
#include "app/OutputContainer.h"

#include <cctype>

namespace tw {

namespace {

std::string Lower(std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
}

}  // namespace

std::string ContainerFor(const std::string& output, const std::string& format) {
    if (!format.empty()) {
        const std::string f = Lower(format);
        if (f == "mkv" || f == "matroska") return "matroska";
        if (f == "ts" || f == "mpegts") return "mpegts";
        if (f == "mp4" || f == "m4v") return "mp4";
        if (f == "mov" || f == "flv") return f;
        if (f == "f4v") return "flv";
        return {};
    }
    const size_t slash = output.rfind('/');
    const size_t dot = output.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return kDefaultContainer;
    const std::string ext = Lower(output.substr(dot + 1));
    if (ext == "mp4" || ext == "m4v" || ext == "mov") return "mp4";
    if (ext == "mkv") return "matroska";
    if (ext == "ts") return "mpegts";
    if (ext == "flv" || ext == "f4v") return "flv";
    return kDefaultContainer;
}

}  // namespace tw
