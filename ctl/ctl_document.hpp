// The configuration document: a sensor's writable configuration as JSON text, with the sensor's
// identity beside it for information.
//   { "format": "vesk11-config/1",
//     "sensor": { "hw_serial": 10597059, "firmware": "11.4.2.7", ... },
//     "parameters": { "param_x": 0.25, "power_mode": 1, ... } }
#ifndef VESK11_CTL_CTL_DOCUMENT_HPP
#define VESK11_CTL_CTL_DOCUMENT_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "ctl_names.hpp"
#include "ctl_value.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

constexpr const char* kDOCUMENT_FORMAT = "vesk11-config/1";
// A document never comes near this; a file beyond it is refused before it is parsed.
constexpr size_t kDOCUMENT_MAX_SIZE = size_t{1024} * 1024;

struct document_entry
{
    ctl_item item;
    uint32_t bits = 0;
};

struct config_document
{
    ctl_json sensor = ctl_json::object();   // informational, never applied
    std::vector<document_entry> parameters; // in the document's order, each parameter once
};

// Reads a document. Throws a document error (ctl_error, status 65) naming the key and the reason:
// a syntax error (with line and column), a value that is not an object where one belongs, an
// unknown or duplicate key, a name that is not a writable parameter, a value of the wrong type,
// out of range or not finite, a missing "format" or "parameters", an unknown format version.
config_document DocumentRead(const std::string& aText);

// The document's text, two-blank indented, ending with a line end. Floats are written so that
// DocumentRead gives back their very bits.
std::string DocumentWrite(const config_document& aDocument);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
