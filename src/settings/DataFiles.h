// Files that come with the program, such as the default background "DarkRivets.bmp",
// found wherever the program was built or installed and whatever the current folder.
#pragma once

#include <string>
#include <vector>

// The file to open for a path taken from the settings. An empty or absolute path, and a
// relative one that names something in the current folder, come back unchanged. Any
// other relative path is looked for beside the running executable, then in the
// installed data folder: first the one that sits where the install put it relative to
// the executable (so a moved or staged install finds its own data), then the one the
// build installs to. When none holds it, the path comes back unchanged, so that opening
// it fails on the name the user gave. The stored setting is never rewritten.
std::string FindDataFile(const std::string& path);

// The same lookup over given folders, in the order tried after the current folder.
std::string FindDataFile(const std::string& path, const std::vector<std::string>& folders);

// The folders FindDataFile(path) tries after the current folder, in order.
std::vector<std::string> DataFileFolders();
