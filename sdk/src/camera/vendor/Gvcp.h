// GigE Vision device discovery by unicast: the GVCP discovery command (UDP,
// port 3956, big-endian fields) sent to one device address from a socket bound
// to one host address, and its acknowledgement read back. Nothing is ever sent
// to a broadcast, multicast or unspecified address: such targets are refused
// before a socket is opened, and the socket never gets SO_BROADCAST.
// Stateless; any thread may call.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "camera/vendor/NetworkInfo.h"

namespace orbel::camera::vendor::gvcp {

inline constexpr uint16_t kPort = 3956;
inline constexpr uint16_t kDiscoveryCommand = 0x0002;
inline constexpr uint16_t kDiscoveryAck = 0x0003;
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kDiscoveryAckPayload = 248;

// key 0x42, flags 0x01 (acknowledge required), command, payload length 0, request id.
std::array<uint8_t, kHeaderSize> DiscoveryCommand(uint16_t requestId);

// The device described by a discovery acknowledgement; nullopt for anything
// else (wrong status, answer, length or request id, or too few bytes).
// interfaceIpAddress is left empty.
std::optional<DeviceInfo> ParseDiscoveryAck(std::span<const uint8_t> datagram, uint16_t requestId);

// True for addresses no discovery may be sent to: 0.0.0.0, 255.255.255.255,
// multicast (224/4) and the broadcast address of the subnet given by mask.
bool IsForbiddenTarget(uint32_t address, uint32_t mask);

// Sends the discovery command from `from` (an address of this host, host byte
// order, any port) to `to`:3956 and waits up to timeout for the acknowledgement
// from `to`, resending a few times within the time-out. nullopt when nothing
// answers. Throws GenericException for a forbidden target (mask as above) or a
// socket that cannot be opened or bound.
std::optional<DeviceInfo> DiscoverUnicast(uint32_t from, uint32_t to, uint32_t mask,
                                          std::chrono::milliseconds timeout);

}  // namespace orbel::camera::vendor::gvcp
