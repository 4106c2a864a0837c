#pragma once

#include <cstdint>
#include <string>

namespace kha {

// The message of a result code, as GetKestiHistAdminErrorMessage gives it.
std::string ErrorMessageText(int32_t code);

}  // namespace kha
