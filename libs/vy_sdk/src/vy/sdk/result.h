#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include <vy/sdk/i_string.h>

namespace vy::sdk {

enum class ErrorCode: int32_t
{
    noError = 0,
    unauthorized = -1,
    notImplemented = -21,
    networkError = -22,
    otherError = -100,
    needMoreData = -102,
    inProgress = -103,
    internalError = -1000,
    invalidParams = -1001,
};

/**
 * A code and a message, read directly by the host (keep it trivially copyable). The message
 * carries one reference that passes to the receiver; null when there is none. Make errors
 * with vy::sdk::error() (<vy/sdk/helpers/error.h>).
 */
class Error
{
public:
    constexpr Error() = default;
    constexpr Error(ErrorCode errorCode, const IString* errorMessage):
        m_errorCode(errorCode), m_errorMessage(errorMessage)
    {
    }

    constexpr ErrorCode errorCode() const { return m_errorCode; }
    constexpr const IString* errorMessage() const { return m_errorMessage; }
    constexpr bool isOk() const { return m_errorCode == ErrorCode::noError; }

private:
    ErrorCode m_errorCode = ErrorCode::noError;
    const IString* m_errorMessage = nullptr;
};

/**
 * An Error followed by a value, read directly by the host. A success has no error and the
 * value; a failure has the error and an empty value. Interface pointers inside (the value
 * or the message) carry one reference that passes to the receiver.
 */
template<typename Value>
class Result
{
public:
    Result() = default;
    Result(Value value): m_value(std::move(value)) {}
    Result(Error error): m_error(error) {}

    bool isOk() const { return m_error.isOk(); }
    const Error& error() const { return m_error; }
    const Value& value() const { return m_value; }

private:
    Error m_error;
    Value m_value{};
};

template<>
class Result<void>
{
public:
    Result() = default;
    Result(Error error): m_error(error) {}

    bool isOk() const { return m_error.isOk(); }
    const Error& error() const { return m_error; }

private:
    Error m_error;
};

static_assert(sizeof(Error) == 16 && std::is_trivially_copyable_v<Error>
    && std::is_standard_layout_v<Error>);
static_assert(sizeof(Result<const IString*>) == 24
    && std::is_trivially_copyable_v<Result<const IString*>>);

} // namespace vy::sdk
