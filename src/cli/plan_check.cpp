#include "cli/plan_check.h"

namespace firmora::cli {

std::string CheckNotEmpty(const download::PlanInput& input) {
    for (const auto& image : input.singleImages) {
        if (image && image->size == 0) return "Image file is empty: " + image->path;
    }
    if (!input.configuration) return {};
    for (const download::PlanEntry& entry : input.entries) {
        if (entry.file != download::kEraseFile && !download::IsSkippedPlanFile(entry.file) && entry.size == 0) {
            return "Image file is empty: " + entry.file;
        }
    }
    return {};
}

}  // namespace firmora::cli
