// Failures that travel as exceptions: the class alone says where the cause lies. They carry no
// data and no text; the destructor is virtual through std::exception, copy and move are implicit.
#ifndef VESK11_SDK_CORE_EXCEPTIONS_HPP
#define VESK11_SDK_CORE_EXCEPTIONS_HPP

#include <exception>

namespace Orvo
{

// Any failure the program itself detected.
class generic_error : public std::exception
{
};

// A failure inside the program or its platform services.
class internal_error : public generic_error
{
};

// A failure whose cause lies outside the program.
class external_error : public generic_error
{
};

// A bad or missing parameter or environment value.
class params_error : public external_error
{
};

// The command line does not match what a handler needs, or no handler matches it.
class not_found_error : public external_error
{
};

} // namespace Orvo

#endif
