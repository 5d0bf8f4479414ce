#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrix {

// Writes header then data as the file at path, all or nothing: into a new
// temporary file beside it (same folder, so the rename cannot cross file
// systems), flushed to the disk, then renamed over path. On any failure the
// temporary is removed, path is left as it was and error says why (the
// system's reason). An existing path that is not a regular file (a device
// such as /dev/full, a pipe) is written in place: there is nothing to rename
// over it and no partial file can be left behind.
bool writeWholeFile(const std::string& path, const std::string& header, const std::uint8_t* data,
                    std::size_t size, std::string& error);

}  // namespace kestrix
