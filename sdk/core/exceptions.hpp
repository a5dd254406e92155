// Failures that travel as exceptions: the class alone says where the cause lies.
#ifndef VESK11_SDK_CORE_EXCEPTIONS_HPP
#define VESK11_SDK_CORE_EXCEPTIONS_HPP

#include <exception>

namespace Orvo
{

class generic_error : public std::exception
{
  public:
    generic_error() = default;
    generic_error(const generic_error&) = default;
    generic_error(generic_error&&) = default;
    generic_error& operator=(const generic_error&) = default;
    generic_error& operator=(generic_error&&) = default;
    ~generic_error() override = default;
};

class internal_error : public generic_error
{
  public:
    internal_error() = default;
    internal_error(const internal_error&) = default;
    internal_error(internal_error&&) = default;
    internal_error& operator=(const internal_error&) = default;
    internal_error& operator=(internal_error&&) = default;
    ~internal_error() override = default;
};

class external_error : public generic_error
{
  public:
    external_error() = default;
    external_error(const external_error&) = default;
    external_error(external_error&&) = default;
    external_error& operator=(const external_error&) = default;
    external_error& operator=(external_error&&) = default;
    ~external_error() override = default;
};

class params_error : public external_error
{
  public:
    params_error() = default;
    params_error(const params_error&) = default;
    params_error(params_error&&) = default;
    params_error& operator=(const params_error&) = default;
    params_error& operator=(params_error&&) = default;
    ~params_error() override = default;
};

class not_found_error : public external_error
{
  public:
    not_found_error() = default;
    not_found_error(const not_found_error&) = default;
    not_found_error(not_found_error&&) = default;
    not_found_error& operator=(const not_found_error&) = default;
    not_found_error& operator=(not_found_error&&) = default;
    ~not_found_error() override = default;
};

} // namespace Orvo

#endif
