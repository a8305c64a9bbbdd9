#pragma once
// The system's own message text for an error code of the server functions.
#include <cstdint>
#include <string>

namespace corvane::win {

// UTF-8, without the trailing line break; empty when the system has no text
// for the code. Network codes (2100 and up) come from netmsg.dll.
std::string SystemMessageText(std::uint32_t code);

}  // namespace corvane::win
