// vyndctl: the privileged control tool the pane runs for what needs root.
#pragma once

namespace vynd {

// Runs one call of the tool: prints the usage, the root message or one
// reply line, and returns the exit status (always 0).
int vyndctl_main(int argc, char** argv);

}  // namespace vynd
