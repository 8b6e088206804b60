// Byte builders for the emulator's fault scripts: damaged frames, lone headers and
// malformed point-cloud payloads. Pure functions; no state.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>

namespace orbel::emulator::detail {

// Damages a finalised frame in place as the fault names; every other byte stays valid
// (a bad header checksum keeps a frame checksum that matches the damaged header).
void DamageFrame(std::vector<uint8_t>& frame, FrameFault fault);

// A 23-byte header with a valid header checksum declaring payloadSize, and nothing else.
std::vector<uint8_t> LoneHeader(uint32_t id, uint32_t counter, uint32_t payloadSize);

// A point-cloud payload that fails exactly the check the kind names, made from a valid
// one of at least 266 bytes.
std::vector<uint8_t> MalformPointCloud(MalformedPointCloud kind, std::span<const uint8_t> valid);

}  // namespace orbel::emulator::detail
