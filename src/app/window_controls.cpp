#include "app/window_controls.h"

#include <utility>

namespace firmora::app {

std::string Selector::Text() const {
    if (itemIndex < 0 || static_cast<size_t>(itemIndex) >= items.size()) return {};
    return items[static_cast<size_t>(itemIndex)];
}

void Selector::SetItems(std::vector<std::string> entries) {
    items = std::move(entries);
    itemIndex = items.empty() ? -1 : 0;
}

}  // namespace firmora::app
