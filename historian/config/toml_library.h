// toml++, compiled once (toml_library.cpp) for the whole configuration
// code. Failures come back as values, never as exceptions.
#pragma once

#include <version>

#ifndef TOML_EXCEPTIONS
#define TOML_EXCEPTIONS 0
#endif
#ifndef TOML_HEADER_ONLY
#define TOML_HEADER_ONLY 0
#endif
// Numbers go through <charconv> wherever the standard library has it for
// floating point: correctly rounded reads and shortest round-trip writes.
#if !defined(TOML_FLOAT_CHARCONV) && defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
#define TOML_FLOAT_CHARCONV 1
#endif
#include <toml++/toml.h>
