// app/window/PublisherServices.h — a local stand-in for the publisher's
// services around the merge window: the application title, a one-line
// notice banner and a small menu with an About box. Nothing reaches the
// network and nothing is stored. Main thread.
#pragma once

#include <string>

class QWidget;

namespace tw {

/// Takes the application key and the product title at start and sets the
/// application title (the caption of every message dialog). Returns true
/// when the program is to end at once: never.
bool InitPublisherServices(const std::string& appKey, const std::string& title);

/// The application title ("Tarnwick" before InitPublisherServices too).
const std::string& ApplicationTitle();

/// Fills the notice panel (a banner with the program's name and a tip) and
/// the menu panel (a button whose menu holds "关于"). The window caption is
/// left as it is.
void FillPublisherPanels(QWidget* notice, QWidget* menu);

/// The About text: the program version, the loaded libraries' versions and
/// the library folder in use ("system" for the system's library search).
std::string AboutText();

}  // namespace tw
