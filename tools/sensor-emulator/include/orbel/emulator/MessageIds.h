// The wire message ids the emulator speaks: commands it answers, the status messages
// it sends back, and the error and alert ids its fault scripts can send.
#pragma once

#include <array>
#include <cstdint>

namespace orbel::emulator::ids {

inline constexpr uint32_t kPointCloud = 0x1000;
inline constexpr uint32_t kUnhandledData = 0x1001;  // a data id a receiver takes but ignores

// Commands (each carries a one-byte payload 0x00).
inline constexpr uint32_t kInitialize = 0x2008;
inline constexpr uint32_t kClose = 0x2009;
inline constexpr uint32_t kStart = 0x4000;
inline constexpr uint32_t kStop = 0x4001;
inline constexpr uint32_t kStatusRequest = 0x6000;

// Answers.
inline constexpr uint32_t kInitialized = 0x3000;
inline constexpr uint32_t kClosed = 0x3001;
inline constexpr uint32_t kStarted = 0x5001;
inline constexpr uint32_t kStopped = 0x5002;
inline constexpr uint32_t kStatusResponse = 0x7000;

inline constexpr std::array<uint32_t, 13> kErrors = {0x1800, 0x4800, 0x6800, 0x2801, 0x4801, 0x2802, 0x4802,
                                                     0x2808, 0x2809, 0x4805, 0x4809, 0x480B, 0x6801};
inline constexpr std::array<uint32_t, 9> kStateChangeErrors = {0x2803, 0x2804, 0x2805, 0x2806, 0x2807,
                                                               0x280B, 0x4803, 0x4804, 0x4806};
inline constexpr uint32_t kUnableToStart = 0x4803;

// Alerts whose payload byte 1 says on (non-zero) or off (zero).
inline constexpr std::array<uint32_t, 5> kAlertsWithStatus = {0x5008, 0x500C, 0x500D, 0x500F, 0x500E};
inline constexpr uint32_t kSystemShutdown = 0x3006;

}  // namespace orbel::emulator::ids
