#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"
#include "platform/window_endpoint.h"

namespace perimo::platform {

std::string SharedMemoryObjectName(std::u16string_view name) {
  std::string object = "/" + ToUtf8(name);
  for (size_t i = 1; i < object.size(); ++i) {
    if (object[i] == '/' || object[i] == '\\') object[i] = '_';
  }
  return object + "." + Sha1Hex(WindowsFolder()).substr(0, 16);
}

SharedMemory::~SharedMemory() {
  Close();
}

bool SharedMemory::Map(int fd, size_t size) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  if (static_cast<size_t>(info.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0) {
    return false;
  }
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) return false;
  data_ = data;
  size_ = size;
  return true;
}

bool SharedMemory::CreateOrOpen(std::u16string_view name, size_t size) {
  Close();
  if (size == 0) return false;
  const int fd = shm_open(SharedMemoryObjectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool mapped = Map(fd, size);
  close(fd);
  return mapped;
}

bool SharedMemory::Open(std::u16string_view name, size_t size) {
  Close();
  if (size == 0) return false;
  const int fd = shm_open(SharedMemoryObjectName(name).c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool mapped = Map(fd, size);
  close(fd);
  return mapped;
}

void SharedMemory::Close() {
  if (data_ != nullptr) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace perimo::platform
