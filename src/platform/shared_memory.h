#pragma once
// Named shared memory, as Windows file mappings backed by the paging file. A name is scoped to
// the windows folder (the programs that can find each other's windows share their mappings):
// the POSIX object is "/" + the name + "." + the first 16 hexadecimal digits of the SHA-1 of
// that folder's path, so agents of different users or sessions never meet. Backslashes in a
// name become underscores.
#include <cstddef>
#include <string>
#include <string_view>

namespace perimo::platform {

std::string SharedMemoryObjectName(std::u16string_view name);

class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Creates the mapping or opens the existing one, at least size bytes, and maps size bytes
  // for reading and writing. False when it cannot be created or mapped.
  bool CreateOrOpen(std::u16string_view name, size_t size);
  // Opens an existing mapping only.
  bool Open(std::u16string_view name, size_t size);
  // Unmaps and closes; the object stays for the other programs that use it.
  void Close();

  void* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  bool Map(int fd, size_t size);

  void* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace perimo::platform
