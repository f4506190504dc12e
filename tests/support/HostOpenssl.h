#pragma once
// The host's openssl (LUMETRA_OPENSSL, found when the build was configured) and other host
// commands, run from a Windows test under Wine: keys and signatures are made while the tests run, so that no
// key is ever kept in the tree.

#include <filesystem>
#include <string>

// Unix form of a Windows path, in single quotes for the shell; "" when Wine cannot say.
std::string Unix(const std::filesystem::path& path);

// Runs a command line of the host's shell and answers whether it ended with exit code 0;
// `work` holds its exit-code file while it runs.
bool RunOnHost(const std::string& shellCommand, const std::filesystem::path& work);

// Runs openssl with `arguments` (Unix paths from Unix()) and answers whether it ended with
// exit code 0. `work` holds its exit-code file.
bool Openssl(const std::string& arguments, const std::filesystem::path& work);
