#ifndef BASE_GUID_H_
#define BASE_GUID_H_

#include <string>

namespace base {

// A random version-4 identifier as 36 lower-case characters,
// "xxxxxxxx-xxxx-4xxx-[89ab]xxx-xxxxxxxxxxxx".
std::string GenerateGUID();

}  // namespace base

#endif  // BASE_GUID_H_
