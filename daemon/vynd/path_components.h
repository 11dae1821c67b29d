// The "/"-separated components of a relative path, the one place that cuts
// paths apart.
#pragma once

#include <string>
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

// Joins path components: one "/" between them, a trailing "/" of the
// appended part dropped; an empty part leaves the path as it is.
[[nodiscard]] inline std::string join_path(std::string_view base, std::string_view name) {
    while (!name.empty() && name.back() == '/') name.remove_suffix(1);
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    std::string out(base);
    if (name.empty())
        return out;
    if (out.empty() || out.back() != '/')
        out += '/';
    out += name;
    return out;
}

}  // namespace vynd
