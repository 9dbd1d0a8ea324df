#pragma once
// Settings files and folders: profile values in "Program Settings.INI" or a named INI file,
// the projects folder, and making, removing and testing directories and files. Each request
// gets exactly one reply: 0x06 (with text for 0x0B, 0x0D, 0x0E) or 0x15 and a reason byte.
#include <string>

#include "protocol/request.h"

namespace perimo {

void WriteProgramSetting(Request& request);  // 0x0A: section TAB key TAB value
void ReadProgramSetting(Request& request);   // 0x0B: section TAB key TAB default
void WriteIniValue(Request& request);        // 0x0C: file TAB section TAB key TAB value
void ReadIniValue(Request& request);         // 0x0D: file TAB section TAB key TAB default
void GetProjectsFolder(Request& request);    // 0x0E
void MakeDirectory(Request& request);        // 0x0F: path, relative to the installation
void RemoveDirectory(Request& request);      // 0x10: path
void FileExists(Request& request);           // 0x12: path
void DirectoryExists(Request& request);      // 0x18: path

// The suite's projects folder in wire form, ending in a backslash: the documents folder,
// then "<product title> Projects\" when "Program Settings.ini" lies beside the agent.
std::u16string SuiteProjectsFolder(const AgentState& agent);

}  // namespace perimo
