// app/cli/Options.h — the options tarnwick-join accepts, for getopt_long.
// A header of its own so that the tests can hold --help and the man page
// against the very table the parser uses.
#pragma once

#include <getopt.h>

namespace tw::cli {

// Values of the long options without a short one: beyond any character.
enum : int {
    optAuto = 256,
    optDeleteSources,
    optThreads,
    optFormat,
    optCheck,
    optProbe,
    optChaptersPerSource,
    optVersion,
    optForce,
    optProgress,
    optJson,
    optSmart,
};

// The short options; the leading ':' lets the parser word a missing
// argument itself.
inline constexpr const char kShortOptions[] = ":fyqvho:";

inline constexpr option kLongOptions[] = {
    {"fast", no_argument, nullptr, 'f'},
    {"auto", no_argument, nullptr, optAuto},
    {"smart", no_argument, nullptr, optSmart},
    {"overwrite", no_argument, nullptr, 'y'},
    {"delete-sources", no_argument, nullptr, optDeleteSources},
    {"threads", required_argument, nullptr, optThreads},
    {"format", required_argument, nullptr, optFormat},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"check", no_argument, nullptr, optCheck},
    {"force", no_argument, nullptr, optForce},
    {"probe", no_argument, nullptr, optProbe},
    {"json", no_argument, nullptr, optJson},
    {"progress", required_argument, nullptr, optProgress},
    {"chapters-per-source", no_argument, nullptr, optChaptersPerSource},
    {"output", required_argument, nullptr, 'o'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, optVersion},
    {nullptr, 0, nullptr, 0},
};

}  // namespace tw::cli
