// A small selection to share from a test, and what a share left in a private data folder.
#pragma once

#include <string>
#include <vector>

namespace quillop::testing {

// Creates, inside `root`, the folder "riga<line break>nuova è" holding files with spaces,
// accents, URI-reserved marks and "%" in their names ("a%20b.txt", with "a0b.txt" beside it but
// not in the selection) and a folder with a hidden file and an empty subfolder. Every item name
// is a safe name (a line break is not: it lives in the parent's name, so every path handed over
// holds one). Returns the parent folder.
std::string makeSample(const std::string& root);

// The absolute paths of the sample's items under `parent`, in a fixed order.
std::vector<std::string> sampleItems(const std::string& parent);

// The names of those items, in the same order.
std::vector<std::string> sampleNames();

// The inbox of the App Group container under the data folder `dataHome`.
std::string inboxIn(const std::string& dataHome);

// The "sources" array of a batch folder's "context.json". Throws when it is missing or malformed.
std::vector<std::string> contextSources(const std::string& batchFolder);

}  // namespace quillop::testing
