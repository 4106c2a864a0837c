// The forty tuning values of the tuning block by name, TuningValue1 to
// TuningValue40: values 1, 2, 12 and 13 are 16-bit, the others 32-bit
// (kestihistadmin.h). Their meaning belongs to the historian's library;
// like every count and size they are never negative.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "kestihistadmin.h"

namespace kha::histadmin {

inline constexpr int kTuningValueCount = 40;

// "TuningValueN".
std::string TuningValueName(int n);
// N of a name, ASCII case ignored ("tuningvalue7" or "TuningValue7").
std::optional<int> TuningValueNumber(const std::string& name);
// The largest value value N holds: 32767 or 2147483647.
int64_t TuningValueMaximum(int n);

int64_t GetTuningValue(const KestiHistAdminTuningData& tuning, int n);
void SetTuningValue(KestiHistAdminTuningData& tuning, int n, int64_t value);

// The whole block by field name: the two paths, their time stamps (8
// bytes each) and the forty values; and back. The reverse fails with a
// message on anything missing or out of range.
nlohmann::ordered_json TuningJson(const KestiHistAdminTuningData& tuning);
KestiHistAdminTuningData TuningFromJson(const nlohmann::ordered_json& json);

}  // namespace kha::histadmin
