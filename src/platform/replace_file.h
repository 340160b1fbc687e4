// Replacing an output file without ever leaving it half-written or losing
// the one before: the text goes to a temporary file beside it, the old file
// is kept as <path>.bak, and a rename makes the new one the file. Temporary
// files carry their writer's process id, so that those of a killed writer
// can be told from those of one still writing.
#pragma once

#include <string>

namespace orv {

// Whether a file can be written at `path`: not a folder, its folder exists or
// can be made (one level), and a file can be created there. Otherwise false,
// with `why` saying which and why.
bool checkWritableFile(const std::string& path, std::string& why);

// A new empty temporary file beside `path` (its folder made if missing, stale
// temporaries of dead writers removed first): its descriptor, its name in
// `tmp`; -1 with `why` when none can be created.
int createTemporaryFor(const std::string& path, std::string& tmp, std::string& why);

// Makes the complete temporary file `tmp` the file at `path`, keeping a
// regular file already there as <path>.bak. On failure `tmp` is removed,
// `path` is as it was, and `why` says why.
bool replaceWithTemporary(const std::string& tmp, const std::string& path, std::string& why);

}  // namespace orv
