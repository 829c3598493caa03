// app/cli/CommandLineText.cpp — the command line's wording of what others
// report.
#include "app/cli/CommandLineText.h"

#include <cstring>
#include <utility>

#include "app/FastMergeChecks.h"
#include "app/Messages.h"

namespace tw {

namespace {

// The libraries' and the system's texts a user meets most (an unreadable,
// missing or protected file, a full disk), each with the program's own.
const std::pair<const char*, const char*> kLibraryTexts[] = {
    {"Invalid data found when processing input", NoTr("数据无效，不是能读取的视频文件")},
    {"No such file or directory", NoTr("没有那个文件或目录")},
    {"Permission denied", NoTr("权限不够")},
    {"Is a directory", NoTr("是一个目录")},
    {"Not a directory", NoTr("不是目录")},
    {"No space left on device", NoTr("设备上没有空间")},
    {"File too large", NoTr("文件过大")},
    {"Read-only file system", NoTr("只读文件系统")},
    {"File name too long", NoTr("文件名过长")},
    {"End of file", NoTr("文件意外结束")},
    {"Input/output error", NoTr("输入/输出错误")},
};

bool StartsWith(const std::string& text, const std::string& head) {
    return text.rfind(head, 0) == 0;
}

}  // namespace

std::string LibraryText(const std::string& text) {
    std::string shown = text;
    for (const auto& [english, own] : kLibraryTexts)
        for (size_t at = 0; (at = shown.find(english, at)) != std::string::npos;) {
            const std::string replacement = Tr(own);
            shown.replace(at, std::strlen(english), replacement);
            at += replacement.size();
        }
    return shown;
}

std::string SystemErrorText(int error) {
    // The C library's English text, whatever locale it was set to.
    const char* english = ::strerrordesc_np(error);
    return LibraryText(english ? english : std::strerror(error));
}

std::string FastMergeReason(const std::string& problem) {
    const std::string advice = FastModeAdvice();
    if (problem.size() >= advice.size() &&
        problem.compare(problem.size() - advice.size(), advice.size(), advice) == 0)
        return problem.substr(0, problem.size() - advice.size());
    return problem;
}

std::string FastMergeRefusal(const std::string& problem) {
    const std::string reason = FastMergeReason(problem);
    if (reason.size() == problem.size()) return problem;
    return TrF("{1}，不能快速合并；请不带 -f 合并（重新编码）", {reason});
}

std::string CommandLineMessage(const std::string& message) {
    std::string text = message;
    for (const char* prefix :
         {"LoadFile Error: ", "AddTask Error: ", "SetOutputFile Error: ", "FatalException: "})
        if (StartsWith(text, prefix)) {
            text.erase(0, std::strlen(prefix));
            break;
        }
    // "a.flv: a.flv: ..." when the component names the file too.
    const size_t colon = text.find(": ");
    if (colon != std::string::npos && colon > 0) {
        const std::string name = text.substr(0, colon + 2);
        if (StartsWith(text.substr(colon + 2), name)) text.erase(0, name.size());
    }
    return LibraryText(FastMergeRefusal(text));
}

}  // namespace tw
