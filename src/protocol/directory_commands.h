#pragma once
// Listings and deletion by wildcard.
//
// A listing is an opening command, answered 06 + the count as decimal digits + 00, then
// paging commands until the page 06 00:
//   0x16 OpenDirectoryList   sub-folders of a folder      pages: 0x17 names, 0x39 with marks
//   0x19 OpenProjectList     project files under a folder pages: 0x1A names with times
//   0x1B OpenSystemFileList  the agent's program files    pages: 0x1C names with times
//   0x1D OpenDriveList       the mapped drives            pages: 0x1E names
// Every opening command starts the one list afresh; any paging command reads it.
#include "protocol/request.h"

namespace perimo {

void DeleteFiles(Request& request);           // 0x15
void OpenDirectoryList(Request& request);     // 0x16
void NextDirectoryNames(Request& request);    // 0x17
void OpenProjectList(Request& request);       // 0x19
void NextProjectNames(Request& request);      // 0x1A
void OpenSystemFileList(Request& request);    // 0x1B
void NextSystemFileNames(Request& request);   // 0x1C
void OpenDriveList(Request& request);         // 0x1D
void NextDriveNames(Request& request);        // 0x1E
void NextDirectoryEntries(Request& request);  // 0x39

}  // namespace perimo
