# The release date (ORBEL_RELEASE_DATE, YYYY-MM-DD, UTC) in the forms the packaged files need:
#   ORBEL_RELEASE_EPOCH     seconds since 1970 (SOURCE_DATE_EPOCH for tools that stamp a date)
#   ORBEL_RELEASE_RFC2822   "Fri, 11 Dec 2026 00:00:00 +0000" (Debian changelogs)
#   ORBEL_RELEASE_MONTH     "December 2026" (manual page headers)
# Never the build time: two builds of one release make the same files.

if(NOT ORBEL_RELEASE_DATE MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
  message(FATAL_ERROR "ORBEL_RELEASE_DATE must read YYYY-MM-DD, not '${ORBEL_RELEASE_DATE}'")
endif()
set(_orbel_year ${CMAKE_MATCH_1})
set(_orbel_month ${CMAKE_MATCH_2})
set(_orbel_day ${CMAKE_MATCH_3})
# No leading zeros in math(EXPR).
string(REGEX REPLACE "^0" "" _orbel_month "${_orbel_month}")
string(REGEX REPLACE "^0" "" _orbel_day "${_orbel_day}")

# Days since 1970-01-01 of a proleptic Gregorian date, with March as the first month of the
# year so that the leap day falls last (years from 1970 on only).
if(_orbel_month LESS_EQUAL 2)
  math(EXPR _orbel_year "${_orbel_year} - 1")
  math(EXPR _orbel_month_from_march "${_orbel_month} + 9")
else()
  math(EXPR _orbel_month_from_march "${_orbel_month} - 3")
endif()
math(EXPR _orbel_era "${_orbel_year} / 400")
math(EXPR _orbel_year_of_era "${_orbel_year} - ${_orbel_era} * 400")
math(EXPR _orbel_day_of_year "(153 * ${_orbel_month_from_march} + 2) / 5 + ${_orbel_day} - 1")
math(EXPR _orbel_day_of_era
  "${_orbel_year_of_era} * 365 + ${_orbel_year_of_era} / 4 - ${_orbel_year_of_era} / 100 + ${_orbel_day_of_year}")
math(EXPR ORBEL_RELEASE_EPOCH "(${_orbel_era} * 146097 + ${_orbel_day_of_era} - 719468) * 86400")

# string(TIMESTAMP) formats SOURCE_DATE_EPOCH in place of the clock when it is set.
set(_orbel_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${ORBEL_RELEASE_EPOCH})
string(TIMESTAMP _orbel_round_trip "%Y-%m-%d" UTC)
string(TIMESTAMP ORBEL_RELEASE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP ORBEL_RELEASE_MONTH "%B %Y" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${_orbel_saved_epoch}")
if(NOT _orbel_round_trip STREQUAL ORBEL_RELEASE_DATE)
  message(FATAL_ERROR "ORBEL_RELEASE_DATE ${ORBEL_RELEASE_DATE} is not a day of the calendar")
endif()
