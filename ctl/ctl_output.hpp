// What vesk11-ctl shows: aligned columns or one JSON object on standard output, failures and
// (on a terminal) progress on standard error.
#ifndef VESK11_CTL_CTL_OUTPUT_HPP
#define VESK11_CTL_CTL_OUTPUT_HPP

#include <cstddef>
#include <string>
#include <vector>

#include "ctl_error.hpp"
#include "ctl_value.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

class ctl_output
{
  public:
    ctl_output(bool aJson, bool aQuiet);
    ~ctl_output();
    ctl_output(const ctl_output&) = delete;
    ctl_output& operator=(const ctl_output&) = delete;

    bool json() const { return json_; }
    bool quiet() const { return quiet_; }

    // "3/18 speed_limit_1_min" on standard error, rewritten in place, when it is a terminal, the
    // command takes more than one query and -q is not given; nothing otherwise.
    void progress(std::size_t aDone, std::size_t aTotal, const std::string& aName);

    // Rows of text in columns as wide as their widest cell, a row's last cell aside, on
    // standard output.
    void rows(const std::vector<std::vector<std::string>>& aRows);
    // One line for people on standard output.
    void line(const std::string& aText);
    // One line that only confirms what was done; left out under -q.
    void note(const std::string& aText);
    // The one JSON object of the run, on standard output.
    void emit(const ctl_json& aObject);
    // A failure: "vesk11-ctl: message" on standard error and, under --json, aReport with an
    // "error" member {kind, message} on standard output.
    void error(const ctl_error& aError, ctl_json aReport = ctl_json::object());

  private:
    void clear_progress();

    bool json_;
    bool quiet_;
    bool terminal_;
    bool progress_shown_ = false;
};

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
