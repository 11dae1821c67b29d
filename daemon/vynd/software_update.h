// System software updates and the disk permission repair after an install run.
#pragma once

#include <optional>
#include <string>

namespace vynd {

struct Settings;

// True when updates are available, or when the check cannot tell.
[[nodiscard]] bool sw_updates_available();
// True when updates were available and their installation succeeded.
[[nodiscard]] bool software_update(const Settings& settings);
// Points an existing Software Update preference file at the private catalog.
void set_sw_catalog(const std::string& library, const std::string& subfolder,
                    const std::optional<std::string>& sus_server);
int repair_permissions();

}  // namespace vynd
