// The one export macro of Orbel_SDK. Symbols are hidden by default; everything a
// caller may touch carries ORBEL_SDK_API (classes, free functions, and the
// interfaces whose type information must be shared across the library boundary).
#pragma once

#if defined(_WIN32)
#  if defined(ORBEL_SDK_BUILDING)
#    define ORBEL_SDK_API __declspec(dllexport)
#  else
#    define ORBEL_SDK_API __declspec(dllimport)
#  endif
#else
#  define ORBEL_SDK_API __attribute__((visibility("default")))
#endif
