// The identity record of this plug-in file, shared by every engine it creates.
#pragma once

#include "engine/scan_engine.h"

namespace kestrix {

// Filled once, while the library is loaded into a process (before any
// engine exists), and only read afterwards.
const PluginInfo& kxPluginInfo();

// Name and file types of the shipped engine. The name is Shift-JIS
// (code page 932): "KxCore " followed by katakana "purag-in".
inline constexpr char PluginName[] = "KxCore \x83\x76\x83\x89\x83\x4f\x83\x43\x83\x93";
inline constexpr char PluginExtensions[] = ".jpg;.png;.mov;.mp4";
inline constexpr int32_t PluginType = 1;

}  // namespace kestrix
