// The checks a sensor-connection address must pass: the sensor panel's fields apply them
// to what the user types, and the settings loader to what "settings.bin" holds, so a
// stored address is never taken that the field itself would refuse.
#pragma once

namespace orbel::studio::gui {

// True for dotted decimal IPv4 text: four numbers 0 to 255 of plain digits (no sign, no
// space, no leading zero), nothing before or after. Null and empty text are not valid.
bool IsValidIPv4(const char* text);

inline bool IsValidPort(int port) { return port >= 1 && port <= 65535; }

}  // namespace orbel::studio::gui
