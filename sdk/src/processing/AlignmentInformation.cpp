// AlignmentInformation: defaults, copies and reading the QEXT file. The file is
// read into a buffer of at most 72 bytes and decoded there, so a short file is
// refused without reading past its end and a refused file changes nothing. Only a
// regular file is opened: a FIFO would hold the open for ever and a device or a
// folder holds no alignment.
#include <orbel/processing/AlignmentInformation.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "processing/QextFormat.h"

namespace orbel::processing {

AlignmentInformation::AlignmentInformation() = default;
AlignmentInformation::AlignmentInformation(const AlignmentInformation&) = default;
AlignmentInformation::AlignmentInformation(AlignmentInformation&&) noexcept = default;
AlignmentInformation& AlignmentInformation::operator=(const AlignmentInformation&) = default;
AlignmentInformation& AlignmentInformation::operator=(AlignmentInformation&&) noexcept = default;
AlignmentInformation::~AlignmentInformation() = default;

void AlignmentInformation::ReadFromQext(const std::string& path) {
    std::error_code error;
    std::ifstream file;
    if (std::filesystem::is_regular_file(path, error)) file.open(path, std::ios::binary);
    if (!file.is_open()) throw std::runtime_error("Cannot open qext file");
    std::array<uint8_t, kQextSize> bytes{};
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const auto count = static_cast<size_t>(file.gcount());
    if (file.bad()) throw std::runtime_error("QEXT file " + path + " could not be read");
    *this = ParseQext(std::span<const uint8_t>(bytes.data(), count), path);
}

}  // namespace orbel::processing
