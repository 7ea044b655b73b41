// Files of the machine's drive as Windows has them beyond their bytes: the
// owner of each file and folder, and the user the machine's processes run
// as. Links and junctions are host symbolic links under the drive, hard
// links host hard links (winsim/winbase.h).
#pragma once

#include <string>

namespace winsim {

// The user every process of the machine runs as (its token's TokenUser), as
// SID text. A file or folder without an owner of its own belongs to it.
extern const char kMachineUserSid[];

// Gives a file or folder of the machine another owner (SID text), as a user
// with the right to take ownership does. False when it is not there or the
// host's file system keeps no extended attributes.
bool SetFileOwner(const std::u16string& windowsPath, const std::string& sid);

}  // namespace winsim
