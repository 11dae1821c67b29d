// The "/"-separated components of a relative path, the one place that cuts
// paths apart.
#pragma once

#include <string_view>

namespace vynd {

// Calls on_component with each component of the path in order, stopping as
// soon as it returns false; true when it never did. Every "/" separates, so
// "a//b" has an empty component between its slashes and "a/" an empty last
// one; "" is a single empty component.
template <class OnComponent>
bool for_each_component(std::string_view path, OnComponent&& on_component) {
    for (;;) {
        size_t slash = path.find('/');
        if (!on_component(path.substr(0, slash)))
            return false;
        if (slash == std::string_view::npos)
            return true;
        path.remove_prefix(slash + 1);
    }
}

}  // namespace vynd
