// tools/gen_media/main.cpp — tarnwick-gen-media: writes synthetic test clips.
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ClipSpec.h"
#include "ClipWriter.h"
#include "StandardSet.h"

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char** argv) {
    using namespace tw::gen;
    const std::vector<std::string> args(argv + 1, argv + argc);
    Command cmd;
    try {
        cmd = ParseCommandLine(args);
    } catch (const UsageError& e) {
        std::cerr << "tarnwick-gen-media: " << e.what() << "\n"
                  << "Try 'tarnwick-gen-media --help'.\n";
        return 2;
    }
    if (cmd.kind == Command::Kind::Help) {
        std::cout << UsageText();
        return 0;
    }
    // The encoders report their settings at the info level; only problems matter here.
    av_log_set_level(cmd.clip.quiet ? AV_LOG_ERROR : AV_LOG_WARNING);
    try {
        if (cmd.kind == Command::Kind::Set) {
            WriteStandardSet(cmd.setDir, cmd.clip.quiet);
        } else {
            const std::string line = WriteClip(cmd.clip);
            if (!cmd.clip.quiet) std::cout << line << std::endl;
        }
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-gen-media: error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
