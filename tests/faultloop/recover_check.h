// The fault loop's check of recovery: what "teams recover" would make of the
// files a run left, merged the way it merges them.
#pragma once

#include <string>
#include <vector>

// A side file told of at unload, merged into the registry as the run last
// loaded or saved it (the file in place, or none), must give what memory
// held; merged again it must change nothing; and where a later run changed
// each of its freqs meanwhile, it must revert none of them. Empty when all
// hold, else what broke.
std::string checkSideFileRecovers(const std::string& side, const std::string* registry,
                                  const std::string& memoryImage);
