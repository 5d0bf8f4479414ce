// Thumbnail frames of movies, decoded in a short-lived child process.
//
//   MovieFrameReader reader;                  // kestrix-movie-frame beside the program
//   std::string why;
//   auto frame = reader.read(imageFd, find.start, find.length, &why);
//   if (!frame) log(why);                     // no thumbnail; nothing else lost
//   else show(frame->width, frame->height, frame->rgb, frame->durationMs);
//
// Why a child process: movie bytes carved from a damaged card go to FFmpeg,
// a decoder far too large to trust with hostile input inside the window. The
// helper limits itself (address space, CPU time, no core file, no file
// writes, few descriptors) before it reads a byte, and this reader stops it
// when the wall-clock limit passes, so a crash, a hang or a memory blow-up
// costs one thumbnail and never the program.
//
// Each read spawns one helper (posix_spawn, so it is safe in a program with
// threads: no code runs between fork and exec), hands it the bytes as its
// descriptor 3 and reads the reply (movie_frame_reply.h) from its standard
// output until a deadline. The child is always reaped; none is left behind
// as a zombie, and no call waits longer than the wall limit plus a short
// grace for the kill.
//
// Threads: the reader holds only its settings; any number of threads may call
// read() at once on one reader. Each call owns its child and descriptors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "imaging/movie/movie_frame.h"

namespace kestrix {

// The helper's file name, looked for in the program's folder.
inline constexpr const char* kMovieFrameProgramName = "kestrix-movie-frame";

// True for the extension (with its dot, any letter case) or the row type
// (without) of a movie the helper is asked about: mov, mp4, m4v, 3gp.
bool isMovieType(const std::string& extensionOrType);

struct MovieFrameLimits {
  int wallMilliseconds = 8000;  // from spawn to reply; then the child is killed
  int cpuSeconds = 5;           // RLIMIT_CPU of the child
  int memoryMib = 512;          // RLIMIT_AS of the child: libraries, decoder and frame
};

class MovieFrameReader {
 public:
  // The helper next to the running program (platform/program_path.h).
  explicit MovieFrameReader(MovieFrameLimits limits = {});
  explicit MovieFrameReader(std::string helperPath, MovieFrameLimits limits = {});

  // The frame of the movie in bytes [offset, offset + length) of an open
  // file (the scanned image; the find is a plain range of it). The
  // descriptor is only duplicated, never moved or closed. nullopt with the
  // reason in *error (when not null): an empty or overflowing range, helper
  // missing, spawn failure, time limit, crash by signal, non-zero exit
  // (with the helper's own reason), malformed reply.
  std::optional<MovieFrame> read(int fd, uint64_t offset, uint64_t length,
                                 std::string* error) const;

  // The same for a movie in memory (an extraction): the bytes are copied
  // into a sealed memfd the child reads.
  std::optional<MovieFrame> read(const uint8_t* data, uint64_t size, std::string* error) const;

  const std::string& helperPath() const { return helperPath_; }
  const MovieFrameLimits& limits() const { return limits_; }

 private:
  std::string helperPath_;
  MovieFrameLimits limits_;
};

}  // namespace kestrix
