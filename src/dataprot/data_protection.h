#pragma once
// The optional data protection library "KalderDataProtection.dll": a shared object under that
// name that protects the active project with a password bound to the device. It is loaded by
// name on first use (from the agent's folder first) and never unloaded; each entry is looked
// up by name, and a missing library or entry acts as a function that returns 0.
//
// Entries, as C functions (strings zero-terminated UTF-16, folders as native paths, window
// handles opaque, results non-zero on success):
//   int32_t DPInitialize(void* parentWindow, const char16_t* folder, int32_t reserved0);
//   int32_t DPState(void);
//   int32_t DPGetDeviceID(char16_t* buffer, int32_t bufferChars);
//   int32_t DPSetPassword(const char16_t* password, int32_t one, char16_t* result,
//                         int32_t resultChars);
//   int32_t DPGetActiveFiles(char16_t* first, char16_t* second, int32_t bufferChars);
//   int32_t DPConfigure(void* parentWindow);
//
// Everything here runs on the agent's main thread; the library keeps its own state between
// the calls.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/dynamic_library.h"

namespace perimo::dataprot {

inline constexpr char16_t kLibraryName[] = u"KalderDataProtection.dll";
constexpr int32_t kDeviceIdChars = 260;
constexpr int32_t kPasswordResultChars = 10240;
constexpr int32_t kActiveFileChars = 260;
// What the password result holds when the library writes nothing.
inline constexpr char16_t kInvalidResult[] = u"<INVALID_DATA_PROTECTION>";

// Copies the library and the runtime files it needs from exeDir\Bin to exeDir, each only when
// it is not there yet (a file already there is never overwritten). exeDir in wire form.
void CopyLibraryFiles(std::u16string_view exeDir);

class DataProtectionLibrary {
 public:
  // The agent's one library.
  static DataProtectionLibrary& Instance();

  // Before each use: copies the files and loads the library when it is not loaded yet (a
  // library that was missing is looked for again next time).
  void Prepare(std::u16string_view exeDir);
  bool loaded() const { return library_.loaded(); }

  // folder in wire form; the library gets it as a native path.
  int32_t Initialize(void* parentWindow, std::u16string_view folder);
  int32_t State();
  // The device id, or an empty string when the call fails.
  bool GetDeviceId(std::u16string& id);
  // result: the library's text, or kInvalidResult when it wrote none.
  bool SetPassword(std::u16string_view password, std::u16string& result);
  std::pair<std::u16string, std::u16string> GetActiveFiles();
  void Configure(void* parentWindow);

 private:
  platform::DynamicLibrary library_;
};

// The setup dialog's "&Data Protection" button. The project folder is "Application" /
// "Directory" of "CEApp.INI" in exeDir.
struct ConfigureOutcome {
  bool noActiveProject = false;  // show kTextNoActiveProject; nothing was called
  bool initialized = false;      // false: add the initialisation error line with state
  int32_t state = 0;
};
ConfigureOutcome ConfigureDataProtection(DataProtectionLibrary& library, std::u16string_view exeDir,
                                         void* dialogWindow);

}  // namespace perimo::dataprot
