#pragma once

#include <string>

namespace zor {

// The start-up check of the program's own file, where executables carry no
// code signature: the file must be a regular file that neither its group nor
// others may write, so no other account can have replaced what is about to
// run. Throws EPlatformError with a clear message otherwise.
void VerifyProgramFile(const std::string& AProgramFile);

}  // namespace zor
