#pragma once

#include "common/json.h"

namespace cli {

using common::jsonNumber;
using common::jsonString;

}  // namespace cli
