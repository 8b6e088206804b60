// The QEXT alignment file's byte layout, decoded from bytes (ReadFromQext and the
// fuzz target call it): eighteen little-endian IEEE 754 floats, 72 bytes, in the
// field order of AlignmentInformation; bytes after 72 are ignored. Whatever the
// bytes, the result is either a usable alignment (every value finite, both focal
// lengths positive) or a std::runtime_error that names the file; nothing is read
// beyond the span.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <orbel/processing/AlignmentInformation.h>

namespace orbel::processing {

AlignmentInformation ParseQext(std::span<const uint8_t> bytes, const std::string& fileName);

}  // namespace orbel::processing
