// The one place icon family code reports a message.
#pragma once

#include <string>

namespace vynd {

// Sends the line to Qt's warning channel, where the program's message handler takes it.
void logIconMessage(const std::string& line);

}  // namespace vynd
