// app/cli/CommandLineText.h — how tarnwick-join words what the driver and the
// components report: a command-line user reads no internal prefixes
// ("LoadFile Error: ") and no advice about the window's check boxes, and the
// system's and libraries' common error texts in the language of the rest.
#pragma once

#include <string>

namespace tw {

/// The program's name, first on every error line: "tarnwick-join: ".
constexpr const char* kProgramPrefix = "tarnwick-join: ";

/// A driver message as the command line shows it: the driver's prefixes
/// ("LoadFile Error: ", "AddTask Error: ", "SetOutputFile Error: ",
/// "FatalException: ") removed, a file name the component repeats after
/// its own said once, the window's advice to untick fast merge turned into
/// the command line's (merge without -f), the libraries' common error texts
/// translated (LibraryText). Without "tarnwick-join: " in front.
std::string CommandLineMessage(const std::string& message);

/// A FastMergeProblem text without the window's advice at its end: the
/// reason alone ("h.webm：vp8 视频不能存入 FLV 文件").
std::string FastMergeReason(const std::string& problem);

/// The command line's refusal of a fast merge for problem: the reason and
/// what to do on the command line (merge without -f).
std::string FastMergeRefusal(const std::string& problem);

/// The text of a system error number in the messages' language (strerror's
/// English under English).
std::string SystemErrorText(int error);

/// A text of the system or the libraries ("No such file or directory",
/// "Invalid data found when processing input") in the messages' language;
/// texts it does not know stay as they are.
std::string LibraryText(const std::string& text);

}  // namespace tw
