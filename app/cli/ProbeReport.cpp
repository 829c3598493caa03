// app/cli/ProbeReport.cpp — the --probe table and JSON document.
#include "app/cli/ProbeReport.h"

#include <cstdio>

#include "app/EncodingTable.h"
#include "app/Messages.h"
#include "app/cli/CommandLineText.h"
#include "app/cli/JsonText.h"
#include "probe/FFDecode.h"
#include "probe/SourceLength.h"
#include "probe/StreamFacts.h"

namespace tw::cli {

namespace {

std::string Name(const std::optional<std::string>& name) {
    return name ? JsonString(*name) : "null";
}

std::string Count(int value) { return value > 0 ? std::to_string(value) : "null"; }

std::string StreamJson(const TStreamFacts& f) {
    std::string j = "{\"index\":" + std::to_string(f.Index) + ",\"type\":" + Name(f.Type) +
                    ",\"codec\":" + JsonString(f.Codec) + ",\"profile\":" + Name(f.Profile);
    if (f.Kind == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = f.FrameRate;
        j += ",\"width\":" + Count(f.Width) + ",\"height\":" + Count(f.Height) +
             ",\"frame_rate\":" +
             (rate.num <= 0 || rate.den <= 0 ? std::string("null")
                                             : JsonNumber(double(rate.num) / rate.den, 3)) +
             ",\"pixel_format\":" + Name(f.PixelFormat) +
             ",\"rotation\":" + std::to_string(f.Rotation);
    } else if (f.Kind == AVMEDIA_TYPE_AUDIO) {
        j += ",\"sample_rate\":" + Count(f.SampleRate) + ",\"channels\":" + Count(f.Channels) +
             ",\"channel_layout\":" + Name(f.ChannelLayout);
    }
    j += ",\"language\":" + Name(f.Language) + ",\"title\":" + Name(f.Title) +
         ",\"default\":" + (f.Default ? "true" : "false") +
         ",\"attached_pic\":" + (f.AttachedPicture ? "true" : "false") + "}";
    return j;
}

std::string Seconds(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", us / 1e6);
    return TrF("{1} 秒", {text});
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<std::string> EncodingDifferences(const std::vector<TSourceFacts>& sources) {
    std::vector<std::string> list;
    if (sources.empty()) return list;
    const std::vector<std::string> first = EncodingValues(sources[0]);
    for (size_t i = 1; i < sources.size(); ++i) {
        const std::vector<std::string> v = EncodingValues(sources[i]);
        for (size_t c = 0; c < v.size(); ++c)
            if (v[c] != first[c])
                list.push_back(TrF("{1} {2} / {3}（{4}）",
                                   {EncodingHeads()[c], v[c], first[c], sources[i].File}));
    }
    return list;
}

std::string SourceJson(AVFormatContext* ic, const std::string& file, int64_t fileSize) {
    std::string streams;
    for (const TStreamFacts& f : DescribeStreams(ic))
        streams += (streams.empty() ? "" : ",") + StreamJson(f);
    const std::string container = ContainerName(ic);
    const std::string head = "{\"file\":" + JsonString(file) + ",\"container\":" +
                             (container.empty() ? "null" : JsonString(container));
    // The streams are described before the packets are read for the length.
    const TSourceLength length = MeasureSource(ic);
    return head + ",\"duration\":" + JsonSeconds(length.Header) +
           ",\"readable_duration\":" + JsonSeconds(length.Readable) +
           ",\"size\":" + (fileSize >= 0 ? std::to_string(fileSize) : "null") + ",\"streams\":[" +
           streams + "]}";
}

int RunProbe(const std::vector<std::string>& inputs, const std::string& container, bool json,
             int width) {
    std::vector<TEncodingSource> table;
    std::vector<TSourceFacts> readable;
    std::vector<std::string> objects, durations, reasons;
    for (const std::string& file : inputs) {
        TEncodingSource row;
        row.Facts.File = file;
        TFFDecoder d;
        if (!d.LoadFile(file)) {
            // The row names the file; the message the component's reason.
            row.Error = CommandLineMessage(d.LastError);
            if (row.Error.rfind(file + ": ", 0) == 0) row.Error.erase(0, file.size() + 2);
            reasons.push_back(TrF("{1}：{2}", {file, row.Error}));
            objects.push_back("{\"file\":" + JsonString(file) +
                              ",\"error\":" + JsonString(row.Error) + "}");
        } else {
            row.Facts = SurveySource(d.FormatContext(), file);
            readable.push_back(row.Facts);
            if (json) {
                objects.push_back(SourceJson(d.FormatContext(), file, d.FileSize()));
            } else {
                const TSourceLength length = MeasureSource(d.FormatContext());
                std::string text =
                    BaseName(file) + " " + (length.Best() >= 0 ? Seconds(length.Best()) : "-");
                if (length.Missing() > 0)
                    text += TrF("（文件头给出的是 {1}）", {Seconds(length.Header)});
                durations.push_back(text);
            }
        }
        table.push_back(std::move(row));
    }
    if (const std::string problem = FastMergeProblem(readable, container); !problem.empty())
        reasons.push_back(problem);
    for (const std::string& d : EncodingDifferences(readable)) reasons.push_back(d);
    const bool possible = reasons.empty();
    if (json) {
        std::string doc = "{\"sources\":[";
        for (size_t i = 0; i < objects.size(); ++i) doc += (i ? ",\n" : "\n") + objects[i];
        doc += "\n],\"fast_merge\":{\"possible\":" + std::string(possible ? "true" : "false") +
               ",\"container\":" + JsonString(container) + ",\"reasons\":[";
        for (size_t i = 0; i < reasons.size(); ++i) doc += (i ? "," : "") + JsonString(reasons[i]);
        std::fputs((doc + "]}}\n").c_str(), stdout);
    } else {
        bool same = false;
        std::string text = EncodingTableText(table, width, same, true);
        std::string line = Tr("时长：");
        for (size_t i = 0; i < durations.size(); ++i) {
            const std::string item = " " + durations[i] + (i + 1 < durations.size() ? "," : "");
            if (DisplayWidth(line) + DisplayWidth(item) > width) {
                text += line + "\n";
                line = " ";
            }
            line += item;
        }
        if (!durations.empty()) text += line + "\n";
        // What the marks of the table cannot show.
        if (const std::string problem = FastMergeProblem(readable, container); !problem.empty())
            text += TrF("不能快速合并：{1}", {problem}) + "\n";
        std::fputs(text.c_str(), stdout);
    }
    return possible ? 0 : 1;
}

}  // namespace tw::cli
