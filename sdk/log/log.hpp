// Scope object that keeps the diagnostic log open.
#ifndef VESK11_SDK_LOG_LOG_HPP
#define VESK11_SDK_LOG_LOG_HPP

#include "log.h"

namespace Orvo
{
namespace Support
{

class log_guard
{
  public:
    log_guard(const char* aName, int aMaxLevel, int aFlags) { LogOpen2(aName, aMaxLevel, aFlags); }
    ~log_guard() { LogClose(); }

    log_guard(const log_guard&) = delete;
    log_guard& operator=(const log_guard&) = delete;
};

} // namespace Support
} // namespace Orvo

#endif
