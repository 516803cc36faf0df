#pragma once
// quorvel-ea's fleet commands: play many EAs against the running desk, prepare a desk folder
// for them, and check the order list a run left behind.
#include <string>

namespace quorvel::fleet {

int PrepareCommand(int argc, char** argv);
int FleetCommand(int argc, char** argv, const std::string& socketPath);
int CheckCommand(int argc, char** argv);

} // namespace quorvel::fleet
