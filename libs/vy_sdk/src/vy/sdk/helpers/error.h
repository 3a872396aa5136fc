#pragma once

#include <string>

#include <vy/sdk/result.h>

namespace vy::sdk {

/**
 * An Error whose message is a new String (one reference, handed over with the error).
 * noError or an empty message is reported, and the Error is made as asked all the same.
 */
Error error(ErrorCode errorCode, std::string errorMessage);

/** The code's name ("invalidParams"); "<unsupported Error>" for a value outside the enum. */
std::string toString(ErrorCode errorCode);

} // namespace vy::sdk
