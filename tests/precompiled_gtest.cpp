// The program that makes GoogleTest's precompiled header, which every test
// program reuses (tests/CMakeLists.txt); it has no tests and is never run.
#include <gtest/gtest.h>
