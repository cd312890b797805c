#pragma once
// The benchmark's image: a file of the given size filled with a varying
// pattern (no runs of zeros, so no client can skip or compress parts of it),
// written a megabyte at a time, with its XXH3-64 digest as the simulator
// prints it.

#include <cstdint>
#include <string>

namespace firmora::bench {

// Writes the file and returns its digest (16 lower-case hex digits); throws
// std::runtime_error when the file cannot be written.
std::string WritePatternedImage(const std::string& path, uint64_t byteCount);

}  // namespace firmora::bench
