// Result codes and their messages. The texts are the system's own and are
// kept exactly as callers have always seen them, odd spellings included.
#include "region/error_messages.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "kestihistadmin.h"

namespace kha {
namespace {

constexpr int32_t kFirstCode = -2055;
constexpr uint32_t kLastIndex = 54;  // -2001

// Indexed by code + 2055: entry 0 is -2055, entry 54 is -2001.
constexpr std::array<const char*, kLastIndex + 1> kMessages = {
    "The number part in the fileset folder name is too large.",                     // -2055
    "Empty filesets is out of range.",                                              // -2054
    "Insert size is out of range.",                                                 // -2053
    "Cache size is out of range.",                                                  // -2052
    "Timespan is out of range.",                                                    // -2051
    "Thresshold is out of range.",                                                  // -2050
    "Fileset size is out of range.",                                                // -2049
    "Past time is out of range.",                                                   // -2048
    "Future time is out of range.",                                                 // -2047
    "Buffer size is out of range.",                                                 // -2046
    "Number of cache buckets are out of range.",                                    // -2045
    "Cannot exceed the maximum number of filesets set in history parameters.",      // -2044
    "Failed to create directory for fileset.",                                      // -2043
    "The supplied file path is invalid.",                                           // -2042
    "The supplied input buffer is too small.",                                      // -2041
    "Failed to create a fileset in the KESTIHISTADMIN shared memroy.",              // -2040
    "The file path for this fileset is already used by some other fileset.",        // -2039
    "The pointer parameter is invalid.",                                            // -2038
    "The file path for the fileset is required.",                                   // -2037
    "The fileset number if invalid for this repository.",                           // -2036
    "Failed to save the fileset to the marn internal structure.",                   // -2035
    "Failed to save the repository header to the marn internal structure.",         // -2034
    "Failed to initialize the marn internal structure.",                            // -2033
    "Failed to free the marn internal structure.",                                  // -2032
    "Failed to save tuning and configuration data into tune.dat and config.dat.",   // -2031
    "Failed to save the tuning data into marn internal structure.",                 // -2030
    "Failed to get the fileset data from the config.dat.",                          // -2029
    "Failed to get the repository header from the config.dat.",                     // -2028
    "Failed to get the repository name from the config.dat file.",                  // -2027
    "Failed to get the number of repositories from config.dat file.",               // -2026
    "Failed to read config.dat and tune.dat files into marn internal structures.",  // -2025
    "Failed to get the fileset data from the marn shared memory.",                  // -2024
    "Failed to get the repository header from the marn shared memory.",             // -2023
    "There is not enough space in the KESTIHISTADMIN shared memory.",               // -2022
    "Failed to search for the desired repository.",                                 // -2021
    "The supplied repository name is too long.",                                    // -2020
    "Failed to get the repository name from the marn shared memory.",               // -2019
    "Failed to get the number of repositories from marn shared memory.",            // -2018
    "Failed to get the path of the tune.dat file.",                                 // -2017
    "Failed to get the path of the config.dat file.",                               // -2016
    "Failed to load the tune.dat file into KESTIHISTADMIN shared memory.",          // -2015
    "Failed to FlushViewOfFile for the KESTIHISTADMIN shared memory.",              // -2014
    "UFailed to UnMapViewOfFile for the KESTIHISTADMIN shared memory.",             // -2013
    "Failed to MapViewOfFile for the KESTIHISTADMIN shared memory.",                // -2012
    "Failed to OpenFileMapping for the KESTIHISTADMIN shared memory.",              // -2011
    "Failed to CreateFileMapping for the KESTIHISTADMIN shared memory.",            // -2010
    "Failed to open the global mutex for the HISTADMIN shared memory.",             // -2009
    "Failed to set the security descriptor.",                                       // -2008
    "Failed to initialize the security descriptor.",                                // -2007
    "Failed to create the global mutex for the KESTIHISTADMIN shared memory.",      // -2006
    "Malloc failed to allocate space.",                                             // -2005
    "The HISTADMIN shared memory has not been mapped.",                             // -2004
    "The HISTADMIN shared memory has not been opened.",                             // -2003
    "The HISTADMIN shared memory already open.",                                    // -2002
    "The HISTADMIN shared memory already exists.",                                  // -2001
};

const char* TableMessage(int32_t code) {
  // One unsigned comparison: codes above -2001 wrap to large indexes.
  const uint32_t index = static_cast<uint32_t>(code) - static_cast<uint32_t>(kFirstCode);
  return index <= kLastIndex ? kMessages[index] : nullptr;
}

}  // namespace

std::size_t FormatErrorMessage(int32_t code, char* text, std::size_t size) {
  if (code == KHA_OK) return static_cast<std::size_t>(std::snprintf(text, size, "No error."));
  if (const char* message = TableMessage(code)) {
    return static_cast<std::size_t>(std::snprintf(text, size, "%s", message));
  }
  return static_cast<std::size_t>(
      std::snprintf(text, size, "Unknown error = %d", static_cast<int>(code)));
}

void CopyErrorMessage(int32_t code, char* buffer, uint32_t* length) noexcept {
  // A caller that gives no room gets nothing written: never outside the buffer.
  if (buffer == nullptr || length == nullptr || *length == 0) return;
  // Composed on the stack: no allocation that could fail or throw here.
  char text[KHA_MESSAGE_BUFFER_SIZE];
  const uint32_t message_length =
      static_cast<uint32_t>(FormatErrorMessage(code, text, sizeof text));
  if (*length > message_length) {
    std::memcpy(buffer, text, message_length + 1);
    *length = message_length + 1;
  } else {
    std::memcpy(buffer, text, *length - 1);
    buffer[*length - 1] = '\0';
  }
}

std::string ErrorMessageText(int32_t code) {
  char text[KHA_MESSAGE_BUFFER_SIZE];
  FormatErrorMessage(code, text, sizeof text);
  return text;
}

}  // namespace kha
