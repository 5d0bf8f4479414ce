#pragma once

namespace kestrix {

// kestrix-cli decode FILE OUT: decodes FILE and writes its rows as binary PPM
// (P6), or PGM (P5) for greyscale. Exit status: 0 all rows; 1 output file
// error; 2 bad arguments, or an error before any row ("error <code>" on stderr);
// 3 decoding stopped part-way (the rows decoded are written, their count is
// the picture height, and the decoder's code is printed).
int runDecodeCommand(int argc, char** argv);

// kestrix-cli thumbnail FILE OUT.ppm: loads FILE (.jpg, .bmp, .raw) and
// writes its 100 x 75 thumbnail as PPM. Exit status: 0 written; 1 output
// file error; 2 bad arguments, or the file could not be loaded.
int runThumbnailCommand(int argc, char** argv);

} // namespace kestrix
