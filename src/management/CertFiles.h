#pragma once

#include <string>

namespace zor {

// Where the endpoint's certificate, key and root certificate files are
// looked for: the first of these that names an existing file, else "":
//  1. a name without a folder part, in the program folder;
//  2. the "Certs" folder of the program folder joined with the name (an
//     absolute name stays as it is);
//  3. the name itself (a relative one against the working folder).
// The program folder is ServicePaths().HomeDir. Any thread.
[[nodiscard]] std::string LocateCertFile(const std::string& AFileName);

}  // namespace zor
