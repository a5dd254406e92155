// The standard descriptors of a program that opens a serial line.
#ifndef VESK11_SDK_CORE_STD_DESCRIPTORS_HPP
#define VESK11_SDK_CORE_STD_DESCRIPTORS_HPP

namespace Orvo
{
namespace Support
{

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. A closed standard descriptor
// would be taken by the next open, the device's, whose line would then receive what the program
// prints. Logs nothing.
void FillStdDescriptors();

} // namespace Support
} // namespace Orvo

#endif
