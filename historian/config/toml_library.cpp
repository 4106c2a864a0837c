#define TOML_IMPLEMENTATION
#include "config/toml_library.h"
