#pragma once
// File access for the asset loaders. Directory listings come back sorted byte-wise
// so the stores' indices are the same on every machine, whatever order the file
// system lists in. Only regular files are read: a name that resolves to a device,
// a pipe or a directory reads as empty instead of blocking or failing oddly.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// Names (without directory) of the regular files in directory whose names end in
// suffix, compared ignoring ASCII case (".obj" lists "A.OBJ" too); sorted byte-wise.
// A missing or unreadable directory gives an empty list.
std::vector<std::string> listFiles(const std::string& directory, std::string_view suffix);

// The whole file at path. Returns false, with bytes empty, when it is missing, not a
// regular file or cannot be read.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes);
// The same for text, for the OBJ and MTL readers.
bool readWholeFile(const std::string& path, std::string& text);

// True when text ends in suffix, ignoring ASCII case.
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);

} // namespace lumo
