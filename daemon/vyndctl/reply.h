// The tool's reply: one line holding an unsigned byte.
#pragma once

namespace vynd {

// The byte a command's status stands for; a command that could not be run
// at all (-1) gives 255.
[[nodiscard]] inline int reply_value(int status) {
    return status < 0 ? 255 : status & 0xff;
}

}  // namespace vynd
