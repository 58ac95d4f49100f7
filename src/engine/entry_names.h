// The installer's rule for one name of a folder.
#pragma once

// False for a name that Windows could not take as one entry of a folder;
// the walk refuses such an entry before anything is made for it.
bool names_one_entry(const char* name);
