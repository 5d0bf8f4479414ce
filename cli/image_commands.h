#pragma once

namespace kestrix {

// kestrix-cli decode FILE OUT: decodes FILE and writes its rows as binary PPM
// (P6), or PGM (P5) for greyscale, all or nothing (writeWholeFile). Exit
// status: 0 all rows; 1 output file error (nothing written, OUT unchanged); 2 bad arguments, or an
// error before any row ("error <code>" on stderr); 3 decoding stopped part-way: an error, or the
// data ended (or ran into another file) before the picture did, progressive pictures included (the
// rows decoded are written, their count is the picture height, and the
// decoder's code or where it stopped is printed).
int runDecodeCommand(int argc, char** argv);

// kestrix-cli thumbnail FILE OUT.ppm: writes the 100 x 75 thumbnail of FILE
// as PPM: a .jpg from its 1/8-scale DC picture (MakeJpegThumbnail, the
// window's path), a .bmp or .raw loaded whole, written all or nothing. Exit
// status: 0 written; 1 output file error (nothing written); 2 bad arguments, or the file could not
// be loaded.
int runThumbnailCommand(int argc, char** argv);

}  // namespace kestrix
