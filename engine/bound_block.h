// BoundBlock: the checked view of the block an engine is bound to.
//
// The block holds raw bytes of a damaged medium, so every read of the rules
// and structure walks goes through the one checked view every parser of card
// bytes shares (platform/byte_view.h): offsets are checked in 64-bit
// arithmetic against the block's size before any pointer is formed, and a
// read that would leave the block fails instead of reading on. The plug-in
// only includes it; nothing is linked from outside the engine.
#pragma once

#include "platform/byte_view.h"

namespace kestrix {

using BoundBlock = ByteView;

}  // namespace kestrix
