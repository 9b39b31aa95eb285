// The user's port map: the device or network port "GPS1:" and "GPS2:" stand
// for, in a file the user edits without root.
#pragma once

#include <map>
#include <string>

namespace platform {

// $XDG_CONFIG_HOME/velmor/ports.conf (~/.config/velmor/ports.conf); empty
// when there is no home folder.
std::string PortMapFile();

struct PortMap {
    std::string file;
    bool found = false;                          // the file is there
    std::string problem;                         // why it is not used at all; empty when it is
    std::map<std::string, std::string> entries;  // "GPS1", "GPS2" -> a device path or rfc2217://HOST:PORT
};

// Lines NAME=DEVICE, NAME GPS1 or GPS2, DEVICE a path from '/' or
// rfc2217://HOST:PORT; blank lines and lines from '#' on are left out. One
// line of any other kind and the whole map is broken: half a map could send
// an upload to a receiver the user did not mean.
PortMap ReadPortMap(const std::string& file);

} // namespace platform
