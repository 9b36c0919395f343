// Checks a driver's model data: every reference from a model record
// resolves and every table keeps within the sizes its readers allow.
#pragma once

#include <string>
#include <vector>

#include "settings/model_data.h"

namespace zq {

// A model-record word that names no resource on purpose.
constexpr uint16_t kNoResource = 0xFFFF;

// One line per problem, empty when the data is sound. `models` is set to the
// number of models found (model strings 10000 + i from 0 on).
std::vector<std::string> CheckModelData(const ModelData& model, int* models = nullptr);

}  // namespace zq
