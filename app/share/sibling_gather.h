// One batch for a selection that a launcher splits over several processes: Thunar's "Send To"
// starts the folders of a selection and its files as two processes, one right after the other,
// in the folder it shows. With --gather, the first quillop-share started in a folder collects
// the arguments of those started after it in the same folder while they keep coming (each within
// a short pause of the last, a few seconds at most in all), and shares them all; the others hand
// theirs over and end. Only processes of the same user are trusted either way.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillop {

// `arguments` followed by those handed over by the processes started after this one under the
// same `key`, in the order they came; nullopt when this process handed its own over to another.
// When no hand-over can be made, the arguments come back as they are: each shares its own.
std::optional<std::vector<std::string>> gatherSiblingArguments(const std::string& key,
                                                               std::vector<std::string> arguments);

}  // namespace quillop
