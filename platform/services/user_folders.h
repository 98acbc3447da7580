// The user's configuration folder by the XDG base directory rules, and the
// making of private folders in it.
#pragma once

#include <string>

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config (the home
// folder from $HOME, or from the password database when HOME is unset or
// not absolute). *ignored, when given, tells whether XDG_CONFIG_HOME was
// set but passed over for not being absolute.
std::string UserConfigFolder(bool* ignored = nullptr);

// Makes the folder `path` and any of its missing parents with mode 0700,
// as the XDG rules ask of a folder made for the user's files. True when
// `path` is a folder afterwards; otherwise *error says which folder could
// not be made and why.
bool MakePrivateFolder(const std::string& path, std::string* error);
