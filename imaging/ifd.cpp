#include "imaging/ifd.h"

namespace kestrix {

uint32_t tiffTypeSize(uint16_t type) {
  // Bytes per value, indexed by TIFF 6.0 field type; row 0 is "no type".
  //                                  -  BYTE ASCII SHORT LONG RAT SBYTE UNDEF SSHORT SLONG SRAT
  //                                  FLOAT DOUBLE
  static constexpr uint32_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type <= kLastTiffType ? kSizes[type] : 0;
}

}  // namespace kestrix
