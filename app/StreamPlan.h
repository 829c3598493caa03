// app/StreamPlan.h — which of the first source's further streams (audio
// tracks after the first, subtitles, cover art) a merge keeps, how each is
// written, and what it must tell the user it leaves out.
#pragma once

#include <string>
#include <vector>

#include "encoder/MergePlan.h"
#include "media/SourceSurvey.h"

namespace tw {

struct TStreamPlan {
    /// The output streams after the picture and the first sound, for the
    /// engine (TMergePlan::MoreStreams); each is bound to the stream of its
    /// kind and number of every source.
    std::vector<TMoreStream> More;
    /// The first source's cover art goes into the output
    /// (TMergePlan::KeepCover): MP4/MOV and Matroska hold PNG and JPEG pictures.
    bool KeepCover = false;
    /// What the output leaves out ("注意：FLV 文件不能存入第 2 条音轨（fra）…");
    /// "" when it keeps everything.
    std::string Notice;
};

/// The plan for a merge of sources whose first is `first` into a file of the
/// muxer named container. A fast merge copies every further audio track and
/// every subtitle track the container takes; a re-encoding merge encodes
/// every further audio track with audioEncoder and copies the subtitles
/// the container takes, converting text subtitles to timed text (mov_text)
/// for MP4. FLV keeps one audio track, and no cover art; nor does MPEG-TS.
TStreamPlan PlanStreams(const TSourceFacts& first, const std::string& container, bool fast,
                        const std::string& audioEncoder);

}  // namespace tw
