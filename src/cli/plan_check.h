#pragma once
// What the commands that write images check of a package before any device
// is touched, beyond the images being there.

#include <string>

#include "download/plan_input.h"

namespace firmora::cli {

// "Image file is empty: NAME" for the first image the input would write
// that holds no byte, or empty. An empty image would leave its partition
// holding nothing; packages never carry one on purpose.
std::string CheckNotEmpty(const download::PlanInput& input);

}  // namespace firmora::cli
