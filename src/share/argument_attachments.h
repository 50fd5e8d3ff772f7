// The attachments of a share request made from command-line arguments, one per argument:
// - a URI with the "file" scheme and no host or "localhost" (what file managers pass for %U)
//   names its decoded path;
// - "file:///path" that is no valid URI (a raw space, as some launchers pass) names that path,
//   taken as written;
// - any other URI (https:, sftp:, smb:, a file: URI of another host, ...), and any other text
//   that begins like one, declares no file URL;
// - everything else is a path, made absolute against `workingDirectory`.
// A path named so delivers the file URL of the file the kernel opens through it: the links and
// ".." before its last component resolved in the kernel's order (never ".." removed as text),
// the last component not followed unless "/" ends the path, no trailing "/" left.
// An argument begins like a URI when it begins with a scheme ([A-Za-z][A-Za-z0-9+.-]*) and ":";
// a file whose name looks like that can be named "./name".
//
// Each provider delivers on `delivery`, never on the calling thread, and releases the
// completion once it has run. Any thread.
#pragma once

#include <memory>
#include <string>

#include "share/services/extension_context.h"
#include "share/services/queues.h"

namespace quillop {

std::shared_ptr<ItemProvider> argumentAttachment(const std::string& argument,
                                                 const std::string& workingDirectory,
                                                 std::shared_ptr<SerialQueue> delivery);

}  // namespace quillop
