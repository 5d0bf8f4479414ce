// The program's name, version and web address, shown by the window's
// version link, the About box and the desktop entry.
#pragma once

namespace kestrix {

inline constexpr const char* kProductName = "Kestrix";
inline constexpr const char* kVersionText = "v1.34b";
// The version link of the main window: the version and a hint that a click
// opens the web page.
inline constexpr const char* kWebLinkText = "v1.34b -> Go Web!!";
// The project's page. The published address is not settled yet; the
// reserved .example domain keeps a click from reaching a stranger's site.
inline constexpr const char* kProductWebAddress = "https://kestrix.example/";

}  // namespace kestrix
